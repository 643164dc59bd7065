#include "engine/deferred_save.h"

#include <algorithm>

namespace orevant {

DeferredSave::DeferredSave(MainQueue& mainQueue) : mainQueue_(mainQueue) {}

DeferredSave::~DeferredSave() { task_.cancel(); }

void DeferredSave::request(const std::string& key, std::function<void()> write) {
    const double now = mainQueue_.now();
    if (pending_.empty()) firstPendingAt_ = now;
    lastChangeAt_ = now;
    pending_[key] = std::move(write);
    // One timer per round: a request inside it only moves the due time, which the timer
    // checks when it fires.
    if (!task_.isValid()) schedule(kDelaySeconds);
}

double DeferredSave::dueAt() const {
    return std::min(lastChangeAt_ + kDelaySeconds, firstPendingAt_ + kMaxDelaySeconds);
}

void DeferredSave::schedule(double delay) {
    task_ = mainQueue_.postAfter(delay, guard_.wrap([this] {
        task_ = {};
        const double wait = dueAt() - mainQueue_.now();
        if (wait > 1e-9) {
            schedule(wait);
        } else {
            flush();
        }
    }));
}

void DeferredSave::flush() {
    task_.cancel();
    task_ = {};
    // A write may request again; that starts a new round.
    auto writes = std::move(pending_);
    pending_.clear();
    for (auto& [key, write] : writes) write();
}

} // namespace orevant
