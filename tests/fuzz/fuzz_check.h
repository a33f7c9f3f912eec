// What the fuzz targets do when a result breaks the handler's contract: say
// which rule, and stop the process, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::fflush(stderr);                                                                                       \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (false)

// COM on the fuzzing thread, once per process, and the module object.
void InitializeFuzzApartment();
