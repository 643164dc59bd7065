// A writer killed at any moment leaves the defaults file with the old or the new content.
// A child process rewrites the store in a loop and reports each finished change through a pipe;
// the parent kills it after a varying number of changes, so the kill lands wherever the child
// happens to be in its write. No step waits on time.
#include "platform/capture_log_sink.h"
#include "platform/file_defaults_store.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace orevant;
using orevant::test::TempDir;

namespace {
// Big enough that writing it takes longer than the rename, so many kills land mid-write.
std::string payloadFor(int64_t generation) { return std::string(256 * 1024, static_cast<char>('a' + generation % 26)); }

[[noreturn]] void writeForever(const std::filesystem::path& file, int progress) {
    FileDefaultsStore store(file);
    int64_t generation = store.integer("generation").value_or(0);
    for (int i = 0; i < 100000; ++i) {
        ++generation;
        // Both keys change in one write each; together they must always agree.
        store.set("payload", DefaultsValue(payloadFor(generation)));
        store.set("generation", DefaultsValue(generation));
        store.flush();
        const char tick = 1;
        if (::write(progress, &tick, 1) != 1) break;
    }
    _exit(0);
}
} // namespace

TEST(FileDefaultsStoreKillTest, AKilledWriterNeverLeavesATornFile) {
    TempDir dir;
    const auto file = dir / "orevant/defaults.json";
    ScopedLogCapture capture;
    int64_t lastSeen = 0;
    for (int round = 0; round < 40; ++round) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(fds[0]);
            writeForever(file, fds[1]);
        }
        ::close(fds[1]);
        // Let the child finish between 1 and 5 changes, then kill it during a later one.
        const int changes = 1 + round % 5;
        int finished = 0;
        char tick;
        while (finished < changes && ::read(fds[0], &tick, 1) == 1) ++finished;
        ASSERT_EQ(finished, changes);
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        ::close(fds[0]);

        FileDefaultsStore store(file);
        ASSERT_FALSE(store.movedAsidePath()) << "round " << round;
        const auto generation = store.integer("generation");
        ASSERT_TRUE(generation) << "round " << round;
        // Every finished change is there; an unfinished one may be, in full.
        EXPECT_GE(*generation, lastSeen + changes) << "round " << round;
        const auto payload = store.string("payload");
        ASSERT_TRUE(payload);
        // The payload is written first: it belongs to this generation or the next.
        EXPECT_TRUE(*payload == payloadFor(*generation) || *payload == payloadFor(*generation + 1))
            << "round " << round;
        lastSeen = *generation;
    }
}
