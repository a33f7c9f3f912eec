// A result code in words, for messages and logs.
#pragma once

#include "platform/platform.h"

#include <string>

// "0x8007000E".
std::string Hex(HRESULT hr);
// The system's text for `hr`, without its closing period; empty if the
// system has none.
std::string SystemText(HRESULT hr);
