// Text for messages and logs, between the system's UTF-16 and UTF-8.
#pragma once

#include <string>

std::string Utf8(const std::wstring& text);
std::wstring Utf16(const std::string& text);
