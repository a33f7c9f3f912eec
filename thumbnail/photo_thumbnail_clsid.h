// The class of the system's photo thumbnail provider, to which the thumbnail
// provider hands the picture bytes.
#pragma once

#include "platform/platform.h"

// {C7657C4A-9F68-40FA-A4DF-96BC08EB3551}
inline constexpr CLSID CLSID_PhotoThumbnailProvider = {
    0xC7657C4A, 0x9F68, 0x40FA, {0xA4, 0xDF, 0x96, 0xBC, 0x08, 0xEB, 0x35, 0x51}};
