// show, set and clear: the properties of FLAC files, read and changed
// through quillbrook's property handler as Explorer uses it.
#pragma once

#include "tools/cli/class_source.h"

#include <string>
#include <vector>

// Shows the properties of each file (as JSON with `json`); 0 if every file
// was shown, 1 otherwise.
int ShowProperties(const ClassSource& classes, const std::vector<std::wstring>& files, bool json);
// Sets NAME=VALUE items (or, with `clear`, removes the NAME items) in `file`;
// every item is checked before the file is opened. 0 on success, 1 otherwise.
int ChangeTags(const ClassSource& classes, const std::wstring& file, const std::vector<std::wstring>& items,
               bool clear);
