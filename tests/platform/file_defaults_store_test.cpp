#include "platform/capture_log_sink.h"
#include "platform/file_defaults_store.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <vector>

using namespace orevant;
using orevant::test::TempDir;

namespace {
std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string document(const std::string& values) { return R"({"format":1,"values":{)" + values + "}}"; }

DefaultsData everyByte() {
    DefaultsData bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i));
    return bytes;
}
} // namespace

TEST(FileDefaultsStoreTest, EveryTypedValueSurvivesARestartExactlyAndTextNotUTF8IsRefused) {
    TempDir dir;
    const auto file = dir / "config/orevant/defaults.json";
    DefaultsDictionary legacy{{"12", DefaultsValue(DefaultsDictionary{{"target", "system_output"}})},
                              {"count", DefaultsValue(int64_t{3})}};
    std::map<std::string, DefaultsValue> expected{
        {"appVolumes", DefaultsValue(DefaultsData{'{', '}'})},
        {"blob", DefaultsValue(everyByte())},
        {"empty", DefaultsValue(DefaultsData{})},
        {"one", DefaultsValue(DefaultsData{0xff})},
        {"two", DefaultsValue(DefaultsData{0x00, 0xfe})},
        {"companionPairingPIN", DefaultsValue("042917")},
        {"unicode", DefaultsValue("Kopfhörer \"links\" \\ 🎧")},
        {"autoRec", DefaultsValue(true)},
        {"autoRecSilence", DefaultsValue(int64_t{10})},
        {"huge", DefaultsValue(std::numeric_limits<int64_t>::max())},
        {"tiny", DefaultsValue(std::numeric_limits<int64_t>::min())},
        {"phonesBusVolume", DefaultsValue(0.1 + 0.2)},
        {"whole", DefaultsValue(2.0)},
        {"negativeZero", DefaultsValue(-0.0)},
        {"infinite", DefaultsValue(-HUGE_VAL)},
        {"consoleSlots", DefaultsValue(DefaultsStringArray{"a", "", "bus:main", "", "", "", "", "z"})},
        {"midiMappings", DefaultsValue(legacy)},
    };
    {
        FileDefaultsStore store(file);
        for (const auto& [key, value] : expected) store.set(key, value);
        store.set("notANumber", DefaultsValue(std::nan("")));
        // Text that is not UTF-8 is refused and the previous value kept.
        store.set("companionPairingPIN", DefaultsValue(std::string("bad \xff\xfe")));
        store.set("notText", DefaultsValue(DefaultsStringArray{"\xc3"}));
        store.set("gone", DefaultsValue("x"));
        store.remove("gone");
        store.remove("neverThere");
    }
    FileDefaultsStore reopened(file);
    EXPECT_FALSE(reopened.movedAsidePath());
    for (const auto& [key, value] : expected) {
        auto loaded = reopened.object(key);
        ASSERT_TRUE(loaded) << key;
        EXPECT_EQ(loaded->value.index(), value.value.index()) << key; // integer stays integer, float stays float
        EXPECT_EQ(*loaded, value) << key;
    }
    EXPECT_TRUE(std::signbit(*reopened.real("negativeZero")));
    EXPECT_TRUE(std::isnan(*reopened.real("notANumber")));
    EXPECT_FALSE(reopened.object("gone"));
    EXPECT_FALSE(reopened.object("notText"));

    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u); // it may hold the pairing PIN
    EXPECT_FALSE(std::filesystem::exists(file.string() + ".tmp"));
}

TEST(FileDefaultsStoreTest, AnUnreadableFileIsMovedAsideLoggedAndTheStoreStartsEmpty) {
    TempDir dir;
    const auto file = dir / "defaults.json";
    const std::string garbage = "{\"format\":1,\"values\":{\"autoRec\":{\"type\":\"bool\",\"val";
    writeFile(file, garbage);
    ScopedLogCapture capture;
    {
        FileDefaultsStore store(file);
        EXPECT_FALSE(store.object("autoRec"));
        ASSERT_TRUE(store.movedAsidePath());
        EXPECT_EQ(store.movedAsidePath()->filename(), "defaults.json.unreadable"); // its content: below
        EXPECT_FALSE(std::filesystem::exists(file));
        store.set("autoRec", DefaultsValue(true));
    }
    EXPECT_EQ(FileDefaultsStore(file).boolean("autoRec"), true);

    // Well-formed JSON of the wrong shape is unreadable too, and an earlier copy is not replaced.
    for (const std::string& text : {std::string("[1,2]"), document(R"("k":{"type":"integer","value":1.5})"),
                                    document(R"("k":{"type":"data","value":"A==="})"), std::string()}) {
        writeFile(file, text);
        FileDefaultsStore store(file);
        EXPECT_TRUE(store.movedAsidePath()) << text;
        EXPECT_FALSE(store.object("k"));
    }
    EXPECT_EQ(readFile(dir / "defaults.json.unreadable"), garbage); // kept byte for byte, never replaced
    EXPECT_EQ(readFile(dir / "defaults.json.unreadable.2"), "[1,2]");
    EXPECT_TRUE(std::filesystem::exists(dir / "defaults.json.unreadable.5"));
}

TEST(FileDefaultsStoreTest, AFailedDiskWriteIsLoggedAndTheValueKeptForThisRun) {
    TempDir dir;
    // A plain file where the folder should be: nothing can be written below it.
    writeFile(dir / "blocked", "");
    ScopedLogCapture capture;
    FileDefaultsStore store(dir / "blocked/orevant/defaults.json");
    store.set("autoRec", DefaultsValue(true));
    store.flush();
    EXPECT_EQ(store.boolean("autoRec"), true);
    EXPECT_EQ(capture->count("Failed to write defaults file", LogLevel::error), 1u);
}

TEST(FileDefaultsStoreTest, DefaultPathFollowsXDGConfigHomeThenHome) {
    const test::ScopedEnv home("HOME", "/home/ana");
    const char* const fallback = "/home/ana/.config/orevant/defaults.json";
    const std::pair<const char*, const char*> cases[] = {{"/cfg", "/cfg/orevant/defaults.json"},
                                                         {"relative/dir", fallback} /* not absolute: ignored */,
                                                         {nullptr, fallback}};
    for (const auto& [xdg, expected] : cases) {
        const test::ScopedEnv env("XDG_CONFIG_HOME", xdg);
        EXPECT_EQ(FileDefaultsStore::defaultPath(), expected) << (xdg ? xdg : "unset");
    }
}

TEST(InMemoryDefaultsStoreTest, TypedReadsConvertNumbersAndRefuseOtherTypes) {
    InMemoryDefaultsStore store;
    store.set("i", DefaultsValue(int64_t{3}));
    store.set("d", DefaultsValue(2.5));
    store.set("s", DefaultsValue("text"));
    EXPECT_EQ(store.integer("d"), 2);
    EXPECT_EQ(store.real("i"), 3.0);
    EXPECT_EQ(store.boolean("i"), true);
    EXPECT_FALSE(store.integer("s"));
    EXPECT_FALSE(store.data("s"));
    EXPECT_FALSE(store.string("missing"));
    store.remove("s");
    EXPECT_FALSE(store.object("s"));
    EXPECT_EQ(store.writeCount("s"), 2u);
}

// Fault: one wrong-typed entry used to set the whole file aside, so the pairing PIN, the slots
// and the volumes were lost with it.
TEST(FileDefaultsStoreTest, OnlyTheEntriesThatCannotBeReadAreSetAsideAndEachIsNamed) {
    TempDir dir;
    const auto file = dir / "defaults.json";
    const std::string text = document(R"("companionPairingPIN":{"type":"string","value":"042917"},)"
                                      R"("autoRec":{"type":"bool","value":"yes"},)"
                                      R"("phonesBusVolume":{"type":"real","value":"NaN"},)"
                                      R"("consoleSlots":{"type":"stringArray","value":["a","bus:main"]},)"
                                      R"("oldPIN":{"type":"string","value":[1,2]})");
    writeFile(file, text);
    ScopedLogCapture capture;
    {
        FileDefaultsStore store(file);
        EXPECT_EQ(store.string("companionPairingPIN"), "042917");
        EXPECT_EQ(store.stringArray("consoleSlots"), (DefaultsStringArray{"a", "bus:main"}));
        std::vector<std::string> unreadable;
        for (const auto& [key, reason] : store.unreadableEntries()) unreadable.push_back(key);
        EXPECT_EQ(unreadable, (std::vector<std::string>{"autoRec", "oldPIN", "phonesBusVolume"}));
        ASSERT_TRUE(store.movedAsidePath());
        EXPECT_EQ(readFile(*store.movedAsidePath()), text); // the bad entries are kept, byte for byte
        store.set("autoRec", DefaultsValue(false));
    }
    FileDefaultsStore reopened(file);
    EXPECT_TRUE(reopened.unreadableEntries().empty());
    EXPECT_EQ(reopened.string("companionPairingPIN"), "042917");
    EXPECT_EQ(reopened.boolean("autoRec"), false);
}

// Fault: a PIN stored as a number (by hand or by another tool) was replaced by a new one, and the
// phone had to pair again.
TEST(FileDefaultsStoreTest, APINStoredAsANumberStillReadsAsItsDigits) {
    for (const char* type : {"integer", "string"}) {
        const std::string entry = std::string(R"("companionPairingPIN":{"type":")") + type + R"(","value":123456})";
        TempDir dir;
        writeFile(dir / "defaults.json", document(entry));
        FileDefaultsStore store(dir / "defaults.json");
        EXPECT_EQ(store.string("companionPairingPIN"), "123456") << entry;
        EXPECT_TRUE(store.unreadableEntries().empty()) << entry;
    }
}

// Fault: typed dictionaries nested 40,000 deep crashed every start (and 20,000 took 20 s).
TEST(FileDefaultsStoreTest, AValueNestedPastTheBoundIsAnUnreadableEntryAndTheRestLoads) {
    auto nested = [](int levels) {
        std::string open, close;
        for (int i = 0; i < levels; ++i) {
            open += R"({"type":"dictionary","value":{"k":)";
            close += "}}";
        }
        return open + R"({"type":"integer","value":1})" + close;
    };
    struct Case {
        int levels;
        bool readable;
    } cases[] = {{30, true}, {31, false}, {40000, false}};
    for (const Case& c : cases) {
        TempDir dir;
        const auto file = dir / "defaults.json";
        writeFile(file, document(R"("deep":)" + nested(c.levels) +
                                 R"(,"companionPairingPIN":{"type":"string","value":"042917"})"));
        ScopedLogCapture capture;
        FileDefaultsStore store(file);
        EXPECT_EQ(store.string("companionPairingPIN"), "042917") << c.levels;
        EXPECT_EQ(store.object("deep").has_value(), c.readable) << c.levels;
        EXPECT_EQ(store.unreadableEntries().count("deep"), c.readable ? 0u : 1u) << c.levels;
    }
}

// Fault: a FIFO at the file's place hung start-up for ever; a link to /dev/zero read until
// memory ran out.
TEST(FileDefaultsStoreTest, WhatIsNotARegularFileOfBoundedSizeIsSetAsideWithoutBeingRead) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> make;
    } cases[] = {
        {"fifo", [](const std::filesystem::path& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
        {"link to /dev/zero", [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/zero", p); }},
        {"too large",
         [](const std::filesystem::path& p) {
             writeFile(p, "{}");
             std::filesystem::resize_file(p, FileDefaultsStore::kMaxFileBytes + 1);
         }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto file = dir / "defaults.json";
        c.make(file);
        ScopedLogCapture capture;
        FileDefaultsStore store(file);
        EXPECT_FALSE(store.object("anything")) << c.name;
        EXPECT_TRUE(store.movedAsidePath()) << c.name;
        store.set("autoRec", DefaultsValue(true));
        store.flush();
        EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file))) << c.name;
        EXPECT_EQ(FileDefaultsStore(file).boolean("autoRec"), true) << c.name;
    }
}

// Fault: a defaults.json linked from a dotfiles folder was replaced by a plain file at the first
// write, cutting the link.
TEST(FileDefaultsStoreTest, ALinkedFileIsWrittenThroughToItsTargetAndStaysALink) {
    TempDir dir;
    const auto target = dir / "dotfiles/orevant/defaults.json";
    const auto link = dir / "config/orevant/defaults.json";
    FileDefaultsStore(target).set("companionPairingPIN", DefaultsValue("042917"));
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink("../../dotfiles/orevant/defaults.json", link);
    {
        FileDefaultsStore store(link);
        EXPECT_EQ(store.string("companionPairingPIN"), "042917");
        store.set("autoRec", DefaultsValue(true));
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(FileDefaultsStore(target).boolean("autoRec"), true);
    EXPECT_EQ(std::filesystem::directory_iterator(link.parent_path())->path(), link) << "nothing else beside the link";
}
