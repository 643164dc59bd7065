#include "recording/take_ceiling_handler.h"

#include <utility>

namespace orevant {

namespace {
std::function<void()>& handlerSlot() {
    static std::function<void()> handler;
    return handler;
}
} // namespace

void setTakeCeilingHandler(std::function<void()> handler) { handlerSlot() = std::move(handler); }

void runTakeCeilingHandler() {
    // A copy, so a handler may replace itself while it runs.
    auto handler = handlerSlot();
    if (handler) handler();
}

} // namespace orevant
