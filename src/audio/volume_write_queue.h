#pragma once
// Performs device volume writes on its own serial worker thread and keeps only the newest
// write per endpoint: a dragged slider becomes a few hardware writes, never a backlog, and a
// write to one device never displaces a write to another.
//
// Threads: enqueue from any thread (the main queue here); writes run on the worker thread;
// completions are posted to the main queue.
#include "audio/audio_direction.h"

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orevant {

class AudioServer;
class MainQueue;

class VolumeWriteQueue {
public:
    static constexpr const char* kLabel = "com.brenlake.orevant.volume-write";

    struct Write {
        VolumeEndpoint endpoint;
        float volume = 1.0f;
        std::optional<bool> mute; // absent: leave mute alone
        bool operator==(const Write&) const = default;
    };
    // Runs on the main queue with the success of the write that was performed for the endpoint
    // (the newest one, when later writes replaced this one before it was performed).
    using Completion = std::function<void(bool success)>;

    VolumeWriteQueue(AudioServer& server, MainQueue& mainQueue);
    // Finishes the drain under way (if any), then stops the worker.
    ~VolumeWriteQueue();
    VolumeWriteQueue(const VolumeWriteQueue&) = delete;
    VolumeWriteQueue& operator=(const VolumeWriteQueue&) = delete;

    // Any thread. Replaces the pending write to the same endpoint (or queues it after the
    // pending writes to other endpoints) and starts a drain unless one is scheduled or running.
    // Every completion is called once.
    void enqueue(const Write& write, Completion completion);

    // Test aids. The hook runs on the worker just before each write is performed; it may block
    // to hold the drain. waitUntilIdle blocks the caller until no drain is scheduled or
    // running and every completion has been posted.
    void setWillPerformHook(std::function<void(const Write&)> hook);
    void waitUntilIdle();

private:
    void run();
    bool perform(const Write& write);

    AudioServer& server_;
    MainQueue& mainQueue_;
    std::mutex lock_;
    std::condition_variable wake_;
    struct Pending {
        Write write;
        std::vector<Completion> completions;
    };
    std::vector<Pending> pending_; // at most one per endpoint, in order of arrival
    bool isDraining_ = false;      // a drain is scheduled or running
    bool stopping_ = false;
    std::function<void(const Write&)> willPerform_;
    std::thread worker_;
};

} // namespace orevant
