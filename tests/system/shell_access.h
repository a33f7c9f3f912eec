// What the system test asks of the shell, through its documented APIs only:
// property stores by parsing name, display text, and helpers to read values
// and to look at bitmaps. Every call goes through ShellCall, so that the
// shell's "not implemented" makes a check skipped and any other failure
// fails it.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

ComPtr<IPropertyStore> OpenPropertyStore(const std::wstring& path, GETPROPERTYSTOREFLAGS flags);
std::wstring TextValue(IPropertyStore* store, REFPROPERTYKEY key);
std::vector<std::wstring> TextList(IPropertyStore* store, REFPROPERTYKEY key);
std::uint64_t NumberValue(IPropertyStore* store, REFPROPERTYKEY key);
// The text Explorer shows for the store's value of the key.
std::wstring DisplayText(IPropertyStore* store, REFPROPERTYKEY key);
void SetText(IPropertyStore* store, REFPROPERTYKEY key, const std::wstring& value);

// Requires that the module at `installedPath` (the product's installed
// quillbrook.dll for this program's machine) is the one loaded in this
// process under its name, and that it is built for this program's machine.
void RequireInstalledModuleLoaded(const std::wstring& installedPath);

// Requires a square bitmap of at most `size` pixels whose centre has `colour`
// (each channel within a small tolerance for scaling).
void RequireCover(HBITMAP bitmap, int size, COLORREF colour);
