// Run-time choice between the AVX2 and the plain code paths of the vector kernels. Both paths
// give the same bits (the same operations per element, in the same order, never fused); the
// AVX2 one only does four elements at a time. A module built here must still run on an older
// x86-64, so AVX2 code is compiled per function (target attribute) and chosen here.
#pragma once

namespace velk::cpu {

// True when the processor supports AVX2 and the environment variable VELK_PLAIN_KERNELS is not
// "1" (an internal switch for the tests that compare both paths). Read once per process.
bool avx2_enabled();

// avx2_enabled() on a processor that also has FMA instructions: the condition of the kernels
// that may fuse (velk_morph's, whose bits are their own). Read once per process.
bool avx2_fma_enabled();

}  // namespace velk::cpu
