// The resampler has a plain path and, on x86 processors that have AVX2, a
// vector path that gives the same bytes. Tests force the plain path to
// compare both on one machine.
#pragma once

namespace kx {

// True: every later resampling takes the plain path. False (the default):
// the vector path where the processor has it.
void ForcePlainResample(bool plain);

// True when resampling would take the vector path now.
bool ResampleUsesAvx2();

}  // namespace kx
