#include "platform/stderr_log_sink.h"

#include <chrono>
#include <cmath>
#include <ctime>

namespace orevant {

StderrLogSink::StderrLogSink(LogLevel minimum, std::FILE* stream) : minimum_(minimum), stream_(stream) {}

std::string StderrLogSink::formatLine(const LogRecord& record, double unixSeconds) {
    const auto whole = static_cast<std::time_t>(std::floor(unixSeconds));
    int millis = static_cast<int>(std::lround((unixSeconds - static_cast<double>(whole)) * 1000.0));
    if (millis > 999) millis = 999;
    std::tm local{};
    localtime_r(&whole, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    // Messages are one line each; an embedded newline would forge a record of its own.
    std::string message = record.message;
    for (char& c : message)
        if (c == '\n' || c == '\r') c = ' ';
    return strprintf("%s.%03d [%s] %s: %s", stamp, millis, logLevelName(record.level), record.category.c_str(),
                     message.c_str());
}

void StderrLogSink::write(const LogRecord& record) {
    if (static_cast<int>(record.level) < static_cast<int>(minimum_)) return;
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string line = formatLine(record, now) + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

} // namespace orevant
