#pragma once
// What keeps a task from running after its owner is gone. An object that posts work to a queue,
// or hands callbacks to another object, keeps one guard and passes its work through wrap(): the
// wrapped callable does nothing once the guard has ended (the owner ended it or was destroyed).
//
// Threads: the guard lives and ends on its owner's queue (the main queue here); wrapped
// callables are meant to run there too, so the check is never racing the owner's destruction.
#include <memory>
#include <utility>

namespace orevant {

class LifetimeGuard {
public:
    LifetimeGuard() = default;
    ~LifetimeGuard() = default;
    LifetimeGuard(const LifetimeGuard&) = delete;
    LifetimeGuard& operator=(const LifetimeGuard&) = delete;

    // `task` (taking any arguments, returning nothing, callable as const) wrapped so that it
    // runs only while the guard lives.
    template <typename Task>
    auto wrap(Task task) const {
        return [alive = std::weak_ptr<const char>(token_), task = std::move(task)](auto&&... args) {
            if (alive.lock()) task(std::forward<decltype(args)>(args)...);
        };
    }

    // For a task that must look again part-way through, after calling code that may destroy
    // the owner: expired() once the guard has ended.
    std::weak_ptr<const char> watch() const { return token_; }

    // From here on no wrapped task runs. Owners whose members must not be reached by a late
    // task during their own destruction call it first thing in their destructor.
    void end() { token_.reset(); }

private:
    std::shared_ptr<const char> token_ = std::make_shared<const char>();
};

} // namespace orevant
