// The handler's copy of a file's Vorbis comments: upper-case field name to the
// field's values (UTF-16) in file order. std::string compares as unsigned
// bytes with the shorter name first on a common prefix, which is the order
// the comments are written back in. Names are found without making a string
// of them.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

using TagValues = std::vector<std::wstring>;
using TagMap = std::map<std::string, TagValues, std::less<>>;
