#include "platform/linux/journald_log_sink.h"

#include "platform/stderr_log_sink.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace orevant {

JournaldLogSink::JournaldLogSink(LogLevel minimum, Send send)
    : minimum_(minimum), send_(send ? std::move(send) : Send(&sd_journal_sendv)) {}

int JournaldLogSink::priority(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return LOG_DEBUG;
    case LogLevel::info:
        return LOG_INFO;
    case LogLevel::notice:
        return LOG_NOTICE;
    case LogLevel::error:
        return LOG_ERR;
    }
    return LOG_NOTICE;
}

void JournaldLogSink::write(const LogRecord& record) {
    if (static_cast<int>(record.level) < static_cast<int>(minimum_)) return;
    // Values may hold any bytes, newlines included: the journal keeps each field whole.
    const std::string fields[] = {
        "MESSAGE=" + record.message,           "PRIORITY=" + std::to_string(priority(record.level)),
        "SYSLOG_IDENTIFIER=orevant",           "OREVANT_SUBSYSTEM=" + record.subsystem,
        "OREVANT_CATEGORY=" + record.category,
    };
    iovec vector[std::size(fields)];
    for (size_t i = 0; i < std::size(fields); ++i) {
        vector[i].iov_base = const_cast<char*>(fields[i].data());
        vector[i].iov_len = fields[i].size();
    }
    send_(vector, static_cast<int>(std::size(fields)));
}

bool JournaldLogSink::isJournalStream(const char* journalStream, int fd) {
    if (!journalStream) return false;
    uintmax_t device = 0, inode = 0;
    int consumed = 0;
    if (std::sscanf(journalStream, "%" SCNuMAX ":%" SCNuMAX "%n", &device, &inode, &consumed) != 2 ||
        journalStream[consumed] != '\0') {
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return static_cast<uintmax_t>(st.st_dev) == device && static_cast<uintmax_t>(st.st_ino) == inode;
}

std::shared_ptr<LogSink> JournaldLogSink::forStderr(LogLevel minimum) {
    if (isJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO))
        return std::make_shared<JournaldLogSink>(minimum);
    return std::make_shared<StderrLogSink>(minimum);
}

} // namespace orevant
