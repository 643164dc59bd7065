#pragma once
// Logging: subsystem "com.brenlake.orevant", one category per component, four levels.
// Any thread. The sink is process-wide (like the system log) and replaceable in tests.
#include <memory>
#include <string>
#include <string_view>

namespace orevant {

inline constexpr const char* kLogSubsystem = "com.brenlake.orevant";

enum class LogLevel { debug, info, notice, error }; // notice is the "default" level

const char* logLevelName(LogLevel level);

struct LogRecord {
    std::string subsystem;
    std::string category;
    LogLevel level;
    std::string message;
};

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

// printf-style formatting into a std::string.
std::string strprintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

class Logger {
public:
    explicit Logger(std::string category) : category_(std::move(category)) {}

    void debug(std::string_view message) const { log(LogLevel::debug, message); }
    void info(std::string_view message) const { log(LogLevel::info, message); }
    void notice(std::string_view message) const { log(LogLevel::notice, message); }
    void error(std::string_view message) const { log(LogLevel::error, message); }
    void log(LogLevel level, std::string_view message) const;

    const std::string& category() const { return category_; }

    // The process-wide sink. Without one set, records go nowhere.
    static void setSink(std::shared_ptr<LogSink> sink);
    static std::shared_ptr<LogSink> sink();

private:
    std::string category_;
};

} // namespace orevant
