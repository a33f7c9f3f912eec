// The five FLAC streams that the robustness tests start from, each with a
// different metadata shape: an ID3v2 prefix, several padding blocks, a large
// VORBIS_COMMENT block, several pictures, and blocks in an odd order.
#pragma once

#include "tests/support/flac_builder.h"

#include <string>
#include <vector>

struct NamedFixture {
    std::string name;
    Bytes bytes;
};

const std::vector<NamedFixture>& VariedFixtures();
