// The portable kernel set: four floats an operation, which every x86-64 CPU (SSE2) and every
// other target this builds for can run.
#include "capture/render_kernels.h"

namespace orevant {
namespace {
#define OREVANT_VECTOR_BYTES 16
#include "capture/render_kernels_impl.h"
#undef OREVANT_VECTOR_BYTES
} // namespace

const RenderKernels& portableRenderKernels() {
    static constexpr RenderKernels kernels{"portable", writeFramesKernel, peakKernel};
    return kernels;
}

} // namespace orevant
