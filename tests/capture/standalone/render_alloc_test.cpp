// The render path allocates nothing and takes no lock. This binary replaces the global
// allocation functions and, outside sanitizer builds (whose runtimes own these symbols), malloc
// and pthread_mutex_lock, counting every call made on the test thread while counting is on.
#include "../capture_fixture.h"
#include "capture/process_tap.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <pthread.h>

#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OREVANT_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define OREVANT_SANITIZED 1
#endif
#endif

namespace {
thread_local bool counting = false;
thread_local size_t allocations = 0;
thread_local size_t locks = 0;

inline void noteAllocation() {
    if (counting) ++allocations;
}
} // namespace

// These operators are the allocator: new takes from malloc, so delete gives back with free.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    noteAllocation();
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    noteAllocation();
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void* operator new(std::size_t n, std::align_val_t a) {
    noteAllocation();
    const auto align = static_cast<std::size_t>(a);
    if (void* p = std::aligned_alloc(align, (n + align - 1) / align * align)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) { return operator new(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

#ifndef OREVANT_SANITIZED
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n) {
    noteAllocation();
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t s) {
    noteAllocation();
    return __libc_calloc(n, s);
}
void* realloc(void* p, size_t n) {
    noteAllocation();
    return __libc_realloc(p, n);
}
int pthread_mutex_lock(pthread_mutex_t* m) {
    using Fn = int (*)(pthread_mutex_t*);
    static Fn real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    if (counting) ++locks;
    return real(m);
}
}
#endif

namespace orevant {
namespace {

using test::Buffers;
using test::FakeLane;
using test::SimFixture;

class RenderAllocTest : public SimFixture {
protected:
    ProcessTap::Output out(AudioObjectID id) { return {*server.string(id, sel::deviceUID, scope::global), id}; }
};

TEST_F(RenderAllocTest, CountersSeeAllocationsAndLocks) {
    // The counting itself works, so a zero below means something.
    counting = true;
    void* p = ::operator new(16); // a direct call: the compiler may not drop it
    std::mutex m;
    m.lock();
    m.unlock();
    counting = false;
    ::operator delete(p);
    EXPECT_GE(allocations, 1u); // operator new and, where replaced, malloc beneath it
#ifndef OREVANT_SANITIZED
    EXPECT_EQ(locks, 1u);
#endif
    allocations = locks = 0;
}

TEST_F(RenderAllocTest, TenThousandCyclesAllocateNothingAndLockNothing) {
    auto lane = std::make_shared<FakeLane>();
    ProcessTap general(server, {process}, 0.5f, false, 1.0f, lane);
    general.start({out(speakers), out(headset)});
    ProcessTap paired(server, {process}, 0.5f, false, 0.8f, lane);
    paired.start({out(interface8)}, ProcessTap::ChannelPairing{0, 2, 2});
    general.setRecordsToMain(true);
    paired.setRecordsToMain(true);
    lane->arm(1, 0);

    Buffers in, twoOuts, eight;
    in.add(1, 512, 0.1f).addStereo(512, 0.5f, -0.5f);
    twoOuts.add(2, 512).add(2, 512);
    eight.add(8, 512);
    // Counted from the first cycle: the diagnostics of the first 2500 cycles are only captured.
    allocations = locks = 0;
    counting = true;
    for (int i = 0; i < 10000; ++i) {
        // Keep the gains ramping, switch modes, mute, panic: every branch of the body runs.
        const float v = static_cast<float>(i % 100) / 100.0f;
        general.setVolume(v);
        paired.setVolume(1.0f - v);
        paired.setPhonesMode(static_cast<PhonesMode>(i % 3));
        general.setMuted(i % 250 == 7);
        paired.setPanicked(i % 500 > 480);
        general.render(in.list(), twoOuts.list());
        paired.render(in.list(), eight.list());
        (void)general.takePeak();
        (void)paired.takePeak();
    }
    counting = false;
    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(locks, 0u);
    EXPECT_EQ(general.renderCount(), 10000u);
    EXPECT_EQ(paired.renderCount(), 10000u);
    EXPECT_TRUE(general.shapeLogged());
    EXPECT_TRUE(general.diagLogged());
    EXPECT_GT(lane->writeCount(), 10000u); // the lane was fed along the way
}

} // namespace
} // namespace orevant
