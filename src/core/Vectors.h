// Hand-written vector loops: where they are built and whether the processor runs them.
// Loops that compilers vectorise on their own are built twice instead (TILVORN_VECTOR_CLONES),
// the better copy chosen when the program starts; those must be plain functions, since clones
// of templates are not supported.
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TILVORN_X86_VECTORS 1
#include <immintrin.h>
#define TILVORN_AVX2 __attribute__((target("avx2")))
#define TILVORN_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TILVORN_X86_VECTORS 0
#define TILVORN_VECTOR_CLONES
#endif

namespace tilvorn {

/// Whether this processor runs AVX2 code (asked once).
inline bool HaveAvx2() {
#if TILVORN_X86_VECTORS
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2;
#else
    return false;
#endif
}

}  // namespace tilvorn
