#include "platform/lifetime_guard.h"

#include <gtest/gtest.h>

#include <functional>

namespace orevant {
namespace {

TEST(LifetimeGuardTest, WrappedTasksRunOnlyWhileTheGuardLives) {
    int runs = 0;
    LifetimeGuard guard;
    std::function<void(int)> ended = guard.wrap([&](int by) { runs += by; });
    ended(2);
    EXPECT_EQ(runs, 2) << "arguments pass through";
    guard.end();
    ended(3);
    EXPECT_EQ(runs, 2) << "ended early";

    std::function<void(int)> destroyed;
    std::weak_ptr<const char> watch;
    {
        LifetimeGuard scoped;
        destroyed = scoped.wrap([&](int by) { runs += by; });
        watch = scoped.watch();
        EXPECT_FALSE(watch.expired());
    }
    destroyed(5);
    EXPECT_EQ(runs, 2) << "the owner is gone";
    EXPECT_TRUE(watch.expired());
}

} // namespace
} // namespace orevant
