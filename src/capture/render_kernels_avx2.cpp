// The AVX2 kernel set: eight floats an operation. Built with -mavx2 -mfma on x86-64 only; the
// dispatcher hands it out only where the CPU has both.
#include "capture/render_kernels.h"

#if defined(__x86_64__) && defined(__AVX2__)

namespace orevant {
namespace {
#define OREVANT_VECTOR_BYTES 32
#include "capture/render_kernels_impl.h"
#undef OREVANT_VECTOR_BYTES
} // namespace

const RenderKernels& avx2RenderKernelSet() {
    static constexpr RenderKernels kernels{"avx2", writeFramesKernel, peakKernel};
    return kernels;
}

} // namespace orevant

#endif
