// Saves a bitmap as a PNG file through the Windows Imaging Component.
#pragma once

#include "platform/platform.h"

#include <string>

HRESULT SaveBitmapAsPng(HBITMAP bitmap, bool hasAlpha, const std::wstring& path);
