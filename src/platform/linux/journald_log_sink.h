#pragma once
// The agent's log sink under systemd: each record goes to the journal as one entry, with the
// level as its priority and the subsystem and category as fields of their own
// (OREVANT_SUBSYSTEM, OREVANT_CATEGORY), so `journalctl --user -u orevant OREVANT_CATEGORY=…`
// finds a component's lines. Any thread.
#include "platform/logger.h"

#include <functional>
#include <memory>

struct iovec;

namespace orevant {

class JournaldLogSink final : public LogSink {
public:
    // What hands an entry to the journal (sd_journal_sendv); tests pass a fake journal.
    using Send = std::function<int(const struct iovec* fields, int count)>;

    // Records below `minimum` are dropped.
    explicit JournaldLogSink(LogLevel minimum = LogLevel::info, Send send = {});
    void write(const LogRecord& record) override;

    // The syslog priority of a level.
    static int priority(LogLevel level);
    // True when `fd` is the stream `journalStream` ($JOURNAL_STREAM, "device:inode") names:
    // systemd connected it to the journal.
    static bool isJournalStream(const char* journalStream, int fd);
    // The journal when stderr is connected to it, else stderr as the terminal wants it.
    static std::shared_ptr<LogSink> forStderr(LogLevel minimum);

private:
    LogLevel minimum_;
    Send send_;
};

} // namespace orevant
