#pragma once
// The running agent's log sink: one line per record on stderr (or another stream), as
// "2024-05-01 12:00:00.123 [default] MixerEngine: message". Any thread; lines never interleave.
#include "platform/logger.h"

#include <cstdio>
#include <mutex>

namespace orevant {

class StderrLogSink final : public LogSink {
public:
    // Records below `minimum` are dropped.
    explicit StderrLogSink(LogLevel minimum = LogLevel::info, std::FILE* stream = stderr);
    void write(const LogRecord& record) override;

    // The line written for a record (without the newline); `unixSeconds` is the time stamp.
    static std::string formatLine(const LogRecord& record, double unixSeconds);

private:
    LogLevel minimum_;
    std::FILE* stream_;
    std::mutex mutex_;
};

} // namespace orevant
