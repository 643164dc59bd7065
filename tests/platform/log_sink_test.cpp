#include "platform/capture_log_sink.h"
#include "platform/linux/journald_log_sink.h"
#include "platform/stderr_log_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <vector>

using namespace orevant;

TEST(LoggerTest, RecordsCarryTheSubsystemCategoryAndLevel) {
    ScopedLogCapture capture;
    Logger log("JSONDefaults");
    log.notice(strprintf("Failed to encode %s; not persisted", "appVolumes"));
    log.debug("detail");
    auto records = capture->records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].subsystem, "com.brenlake.orevant");
    EXPECT_EQ(records[0].category, "JSONDefaults");
    EXPECT_EQ(records[0].message, "Failed to encode appVolumes; not persisted");
    EXPECT_EQ(records[0].level, LogLevel::notice);
    EXPECT_EQ(capture->count("detail", LogLevel::debug), 1u);
    EXPECT_EQ(capture->count("detail", LogLevel::info), 0u);
    EXPECT_EQ(strprintf("%d-%s", 42, std::string(300, 'x').c_str()).size(), 303u);
}

TEST(StderrLogSinkTest, WritesOneLinePerRecordAtOrAboveItsLevel) {
    std::FILE* stream = std::tmpfile();
    ASSERT_NE(stream, nullptr);
    {
        StderrLogSink sink(LogLevel::info, stream);
        sink.write(LogRecord{kLogSubsystem, "MixerEngine", LogLevel::debug, "hidden"});
        sink.write(LogRecord{kLogSubsystem, "MixerEngine", LogLevel::notice, "first\nforged [error] line"});
        sink.write(LogRecord{kLogSubsystem, "OSCListener", LogLevel::error, "100% bad"});
    }
    std::rewind(stream);
    std::string text;
    char buffer[512];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, stream)) text.append(buffer, n);
    std::fclose(stream);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_NE(text.find("[default] MixerEngine: first forged [error] line\n"), std::string::npos);
    EXPECT_NE(text.find("[error] OSCListener: 100% bad\n"), std::string::npos);

    const std::string line =
        StderrLogSink::formatLine(LogRecord{kLogSubsystem, "Recording", LogLevel::info, "take started"}, 1700000000.25);
    // "YYYY-MM-DD HH:MM:SS.mmm [info] Recording: take started" in local time.
    ASSERT_GE(line.size(), 24u);
    EXPECT_EQ(line.substr(19, 4), ".250");
    EXPECT_EQ(line.substr(23), " [info] Recording: take started");
    EXPECT_NE(
        StderrLogSink::formatLine(LogRecord{kLogSubsystem, "Recording", LogLevel::debug, "x"}, 0).find(" [debug] "),
        std::string::npos);
}

TEST(JournaldLogSinkTest, SendsOneEntryPerRecordWithLevelAsPriorityAndCategoryAsField) {
    std::vector<std::vector<std::string>> entries; // the fake journal
    JournaldLogSink sink(LogLevel::info, [&](const iovec* fields, int count) {
        std::vector<std::string>& entry = entries.emplace_back();
        for (int i = 0; i < count; ++i)
            entry.emplace_back(static_cast<const char*>(fields[i].iov_base), fields[i].iov_len);
        return 0;
    });
    struct Case {
        LogLevel level;
        const char* category;
        const char* message;
        const char* priority; // nullptr: dropped
    };
    const Case cases[] = {
        {LogLevel::debug, "MixerEngine", "below the minimum", nullptr},
        {LogLevel::info, "OSCListener", "ready", "6"},
        {LogLevel::notice, "updates", "two\nlines", "5"},
        {LogLevel::error, "BluetoothAudioMonitor", "Connect failed", "3"},
    };
    for (const Case& c : cases) sink.write(LogRecord{kLogSubsystem, c.category, c.level, c.message});
    std::vector<std::vector<std::string>> expected;
    for (const Case& c : cases) {
        if (!c.priority) continue;
        expected.push_back({std::string("MESSAGE=") + c.message, std::string("PRIORITY=") + c.priority,
                            "SYSLOG_IDENTIFIER=orevant", "OREVANT_SUBSYSTEM=com.brenlake.orevant",
                            std::string("OREVANT_CATEGORY=") + c.category});
    }
    EXPECT_EQ(entries, expected);
}

TEST(JournaldLogSinkTest, RecognisesTheJournalStreamByDeviceAndInode) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    struct stat st {};
    ASSERT_EQ(::fstat(::fileno(file), &st), 0);
    const std::string mine = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    EXPECT_TRUE(JournaldLogSink::isJournalStream(mine.c_str(), ::fileno(file)));
    for (const std::string& other : {std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1), mine + "x",
                                     std::string(":"), std::string("")}) {
        EXPECT_FALSE(JournaldLogSink::isJournalStream(other.c_str(), ::fileno(file))) << other;
    }
    EXPECT_FALSE(JournaldLogSink::isJournalStream(nullptr, ::fileno(file)));
    std::fclose(file);
}
