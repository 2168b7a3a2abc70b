#define VELTO_KERNELS_NAMESPACE generic_kernels
#define VELTO_KERNELS_LABEL "generic"
#include "nn/conv_kernels.inc"

namespace velto {

const ConvKernels& genericConvKernels() { return generic_kernels::kernels(); }

// Decided here, in code built for any x86-64 processor, never in the AVX2 file.
const ConvKernels& bestConvKernels() {
#ifdef VELTO_HAVE_AVX2_KERNELS
  static const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  if (avx2) return avx2ConvKernels();
#endif
  return genericConvKernels();
}

}  // namespace velto
