#include "capture/render_kernels.h"

#include <cstdlib>
#include <cstring>

namespace orevant {

#if defined(__x86_64__)
const RenderKernels& avx2RenderKernelSet(); // render_kernels_avx2.cpp
#endif

RampTable RampTable::forCoefficient(float k) noexcept {
    RampTable table;
    table.k = k;
    const double decay = 1.0 - static_cast<double>(k);
    double power = 1.0;
    for (int i = 0; i < kBlock; ++i) {
        power *= decay;
        table.powers[i] = static_cast<float>(power);
        table.pairPowers[2 * i] = table.pairPowers[2 * i + 1] = table.powers[i];
    }
    return table;
}

const RenderKernels* avx2RenderKernels() {
#if defined(__x86_64__)
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    if (supported) return &avx2RenderKernelSet();
#endif
    return nullptr;
}

const RenderKernels& renderKernels() {
    static const RenderKernels& chosen = [&]() -> const RenderKernels& {
        const char* forced = std::getenv("OREVANT_KERNELS");
        if (forced && std::strcmp(forced, "portable") == 0) return portableRenderKernels();
        const RenderKernels* wide = avx2RenderKernels();
        return wide ? *wide : portableRenderKernels();
    }();
    return chosen;
}

} // namespace orevant
