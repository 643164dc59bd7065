#pragma once
// The coalesced save of stored settings that change in bursts (application settings, scenes and
// console slots): a change marks its key, and the writes run 0.4 s after the last change, or 2 s after the first
// unsaved one while changes keep coming. So a flood of changes from the phone costs at most one
// write per key per 0.4 s, and none of them waits for the disk on its own.
//
// Threads: main queue only.
#include "platform/lifetime_guard.h"
#include "platform/main_queue.h"

#include <functional>
#include <map>
#include <string>

namespace orevant {

class DeferredSave {
public:
    static constexpr double kDelaySeconds = 0.4;
    static constexpr double kMaxDelaySeconds = 2.0;

    explicit DeferredSave(MainQueue& mainQueue);
    ~DeferredSave();
    DeferredSave(const DeferredSave&) = delete;
    DeferredSave& operator=(const DeferredSave&) = delete;

    // `write` runs at the next save; a later request for the same key replaces it.
    void request(const std::string& key, std::function<void()> write);
    // Forgets the pending write of `key` (its owner wrote or went away).
    void drop(const std::string& key) { pending_.erase(key); }
    // Runs every pending write now (shutdown).
    void flush();
    bool isPending() const { return !pending_.empty(); }

private:
    double dueAt() const;
    void schedule(double delay);

    MainQueue& mainQueue_;
    std::map<std::string, std::function<void()>> pending_;
    double firstPendingAt_ = 0;
    double lastChangeAt_ = 0;
    TaskHandle task_;
    LifetimeGuard guard_;
};

} // namespace orevant
