// Kernels for processors with AVX-512 (BW and VBMI).
#include "processing/stages.h"

namespace ulmora {
const PixelKernels* Avx512Kernels() { return nullptr; }
}  // namespace ulmora
