#include "platform/logger.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace orevant {

namespace {
std::mutex sinkMutex;
std::shared_ptr<LogSink> currentSink;
} // namespace

const char* logLevelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::notice:
        return "default";
    case LogLevel::error:
        return "error";
    }
    return "default";
}

std::string strprintf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int size = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out;
    if (size > 0) {
        out.resize(static_cast<size_t>(size));
        std::vsnprintf(out.data(), out.size() + 1, format, args);
    }
    va_end(args);
    return out;
}

void Logger::log(LogLevel level, std::string_view message) const {
    auto target = sink();
    if (!target) return;
    target->write(LogRecord{kLogSubsystem, category_, level, std::string(message)});
}

void Logger::setSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(sinkMutex);
    currentSink = std::move(sink);
}

std::shared_ptr<LogSink> Logger::sink() {
    std::lock_guard lock(sinkMutex);
    return currentSink;
}

} // namespace orevant
