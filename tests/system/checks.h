// The checks of the system test, each on files of its own in `folder`;
// `installedModule` is the installed quillbrook.dll that this program's
// machine must load (empty when not given).
#pragma once

#include "tests/system/check_log.h"

#include <string>

void RunPropertyChecks(CheckLog& log, const std::wstring& folder, const std::wstring& installedModule);
void RunThumbnailChecks(CheckLog& log, const std::wstring& folder, const std::wstring& installedModule);
