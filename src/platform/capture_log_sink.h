#pragma once
// A log sink that keeps every record in memory, for tests to read. Any thread.
#include "platform/logger.h"

#include <mutex>
#include <vector>

namespace orevant {

class CaptureLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;

    std::vector<LogRecord> records() const;
    // Messages of one category (all categories when empty), in order.
    std::vector<std::string> messages(std::string_view category = {}) const;
    // Number of records whose message contains `text` (optionally of one level).
    size_t count(std::string_view text) const;
    size_t count(std::string_view text, LogLevel level) const;
    bool contains(std::string_view text) const { return count(text) > 0; }
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

// Installs a fresh capture sink as the process-wide sink for its lifetime.
class ScopedLogCapture {
public:
    ScopedLogCapture();
    ~ScopedLogCapture();
    CaptureLogSink& operator*() { return *sink_; }
    CaptureLogSink* operator->() { return sink_.get(); }

private:
    std::shared_ptr<CaptureLogSink> sink_;
    std::shared_ptr<LogSink> previous_;
};

} // namespace orevant
