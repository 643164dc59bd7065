// The render-side calls of a recording lane never allocate: every operator new in this binary
// is counted while they run.
#include "platform/manual_main_queue.h"
#include "recording/recording_lane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
} // namespace

void* operator new(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (counting.load(std::memory_order_relaxed)) allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// Out of line, so the compiler does not pair an inlined free() with a new-expression.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace orevant {
namespace {

class ForwardingQueue final : public TaskQueue {
public:
    explicit ForwardingQueue(ManualMainQueue& queue) : queue_(queue) {}
    TaskHandle post(Task task) override { return queue_.post(std::move(task)); }
    TaskHandle postAfter(double seconds, Task task) override { return queue_.postAfter(seconds, std::move(task)); }
    bool isCurrent() const override { return queue_.isCurrent(); }
    double now() const override { return queue_.now(); }

private:
    ManualMainQueue& queue_;
};

TEST(LaneWriteAllocationTest, RenderSideCallsAllocateNothing) {
    ManualMainQueue queue;
    RecordingLane lane("Player", queue.hostClock(), queue, std::make_unique<ForwardingQueue>(queue));
    lane.startCapture(queue.hostClock().ticks(), 48000.0);

    std::vector<float> stereo(512 * 2, 0.5f), quad(512 * 4, -0.25f), mono(512, 0.125f);
    int64_t cursor = 0, taken = 0;
    counting = true;
    for (int cycle = 0; cycle < 2000; ++cycle) {
        // Wrap around the ring several times, in every channel layout.
        taken += lane.write(stereo.data(), 512 * 2 * 4, 2, 0, cursor);
        taken += lane.write(quad.data(), 512 * 4 * 4, 4, 2, cursor);
        taken += lane.write(mono.data(), 512 * 4, 1, 0, cursor);
        cursor += 512;
        taken += lane.currentFrame() + lane.armed() + lane.generation() - lane.currentFrame() - 1 - 1;
    }
    counting = false;

    EXPECT_EQ(allocations.load(), 0);
    EXPECT_EQ(taken, 2000 * 3 * 512);
    EXPECT_EQ(lane.highWater(), 2000 * 512);
    EXPECT_FLOAT_EQ(lane.signalPeak(), 0.5f);
    lane.stopCapture();
}

TEST(LaneWriteAllocationTest, TheCounterSeesAllocations) {
    // Without this, a broken counter would pass the test above.
    counting = true;
    auto* p = new std::vector<int>(10);
    counting = false;
    delete p;
    EXPECT_GE(allocations.load(), 1);
    allocations = 0;
}

} // namespace
} // namespace orevant
