// The checks of the system test, each on files of its own in `folder`.
#pragma once

#include "tests/system/check_log.h"

#include <string>

void RunPropertyChecks(CheckLog& log, const std::wstring& folder);
void RunThumbnailChecks(CheckLog& log, const std::wstring& folder);
