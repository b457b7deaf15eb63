// Kernels for processors with AVX2.
#include "processing/stages.h"

namespace ulmora {
const PixelKernels* Avx2Kernels() { return nullptr; }
}  // namespace ulmora
