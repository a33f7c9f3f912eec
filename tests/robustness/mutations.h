// Seeded damage to the metadata of a FLAC stream: bit flips, changed block
// lengths and types, lengths beyond the end, huge comment counts, "=" and NUL
// in odd places. The same seed always gives the same damage.
#pragma once

#include "tests/support/flac_builder.h"

#include <cstdint>
#include <string>

struct Mutation {
    Bytes bytes;
    std::string description;
};

// One to three kinds of damage to `original`, chosen by `seed`.
Mutation MutateMetadata(const Bytes& original, std::uint64_t seed);
