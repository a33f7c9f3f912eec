// thumbnail: the picture Explorer shows for a FLAC file, through
// quillbrook's thumbnail provider, written as a PNG file.
#pragma once

#include "tools/cli/class_source.h"

#include <string>

// 0 if the PNG was written, 1 otherwise.
int WriteThumbnail(const ClassSource& classes, const std::wstring& file, const std::wstring& out, UINT size, bool json);
