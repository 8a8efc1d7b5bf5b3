// The resampler has a plain path and, on x86 processors that have AVX2, a
// vector path that gives the same bytes. Tests force the plain path to
// compare both on one machine.
#pragma once

// Whether this build has the vector path at all (x86 only); the processor
// is asked at run time whether it can take it.
#if defined(__x86_64__) || defined(__i386__)
#define KX_HAVE_AVX2_PATH 1
#include <immintrin.h>
#else
#define KX_HAVE_AVX2_PATH 0
#endif

namespace kx {

// True: every later resampling takes the plain path. False (the default):
// the vector path where the processor has it.
void ForcePlainResample(bool plain);

// True when resampling would take the vector path now.
bool ResampleUsesAvx2();

}  // namespace kx
