#include "app/process_state.h"

#include <atomic>

namespace orevant {

namespace {
std::atomic<bool> relaunching{false};
} // namespace

bool isRelaunchingForUpdate() { return relaunching.load(std::memory_order_relaxed); }

void setRelaunchingForUpdate(bool value) { relaunching.store(value, std::memory_order_relaxed); }

} // namespace orevant
