#include "platform/capture_log_sink.h"

namespace orevant {

void CaptureLogSink::write(const LogRecord& record) {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
}

std::vector<LogRecord> CaptureLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> CaptureLogSink::messages(std::string_view category) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& r : records_)
        if (category.empty() || r.category == category) out.push_back(r.message);
    return out;
}

size_t CaptureLogSink::count(std::string_view text) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& r : records_)
        if (r.message.find(text) != std::string::npos) ++n;
    return n;
}

size_t CaptureLogSink::count(std::string_view text, LogLevel level) const {
    std::lock_guard lock(mutex_);
    size_t n = 0;
    for (const auto& r : records_)
        if (r.level == level && r.message.find(text) != std::string::npos) ++n;
    return n;
}

void CaptureLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

ScopedLogCapture::ScopedLogCapture() : sink_(std::make_shared<CaptureLogSink>()), previous_(Logger::sink()) {
    Logger::setSink(sink_);
}

ScopedLogCapture::~ScopedLogCapture() { Logger::setSink(previous_); }

} // namespace orevant
