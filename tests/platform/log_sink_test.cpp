#include "platform/capture_log_sink.h"
#include "platform/stderr_log_sink.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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
    EXPECT_STREQ(logLevelName(records[0].level), "default");
    EXPECT_STREQ(logLevelName(LogLevel::debug), "debug");
    EXPECT_STREQ(logLevelName(LogLevel::info), "info");
    EXPECT_STREQ(logLevelName(LogLevel::error), "error");
    EXPECT_EQ(capture->count("detail", LogLevel::debug), 1u);
    EXPECT_EQ(capture->count("detail", LogLevel::info), 0u);
    EXPECT_EQ(strprintf("%s", ""), "");
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
}
