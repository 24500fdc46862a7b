// A check that stays in optimised fuzz builds and stops the fuzzer with
// the failed condition, so libFuzzer saves the input that broke it.
#ifndef MURM_FUZZ_CHECK_H
#define MURM_FUZZ_CHECK_H

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                    \
    do {                                                                         \
        if (!(condition)) {                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                            \
            std::abort();                                                        \
        }                                                                        \
    } while (0)

// Reads the first and the last byte of a range, which ASan checks against
// the fuzzer's buffer: a range the reader hands out must lie inside it.
inline void TouchRange(const unsigned char* bytes, size_t size)
{
    static volatile unsigned char sink;
    if (size) {
        sink = sink ^ bytes[0];
        sink = sink ^ bytes[size - 1];
    }
}

#endif
