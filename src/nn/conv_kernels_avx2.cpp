// Built with -mavx2 -mfma; only reached through bestConvKernels on processors that have both.
#define VELTO_KERNELS_NAMESPACE avx2_kernels
#define VELTO_KERNELS_LABEL "avx2+fma"
#define VELTO_KERNELS_FMA 1
#include "nn/conv_kernels.inc"

namespace velto {

const ConvKernels& avx2ConvKernels() { return avx2_kernels::kernels(); }

}  // namespace velto
