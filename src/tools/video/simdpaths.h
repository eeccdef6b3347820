#pragma once

// The one place that says whether the hand-written SIMD paths run. Each such
// path has a plain twin giving the same bytes; KESTRIN_PLAIN_PATHS=1 in the
// environment makes every converter made afterwards take the plain ones (to
// compare, or to rule the wide paths out of a fault).
//
//   wide = SimdPaths::avx2();   // once, when the converter is made
//   if (wide) ... hand-written AVX2 ... else ... scalar, or libswscale ...
class SimdPaths
{
public:
    // The processor runs AVX2 and the plain paths are not forced. Asked when
    // a converter is made, not per pixel.
    static bool avx2();
    // KESTRIN_PLAIN_PATHS holds a non-zero number.
    static bool plainPathsForced();
};

// The hand-written paths are compiled in for x86 only.
#if defined(__x86_64__) || defined(__i386__)
#define KESTRIN_X86_SIMD 1
#endif
