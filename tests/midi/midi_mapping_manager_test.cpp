#include "midi/midi_mapping_manager.h"
#include "persistence/json_defaults.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

constexpr MIDISource usbController{0x1A2B3C, true};
constexpr MIDISource otherController{-4711, true};
constexpr MIDISource virtualSource{99, false};

Json storedMappings(const DefaultsStore& defaults) {
    auto document = JSONDefaults::loadJSON("midiMappings", defaults);
    return document ? *document : Json();
}

void storeJSON(DefaultsStore& defaults, const std::string& text) {
    defaults.set("midiMappings", DefaultsData(text.begin(), text.end()));
}

class MIDIMappingManagerTest : public ::testing::Test {
protected:
    ScopedLogCapture logs;
    InMemoryDefaultsStore defaults;
};

// Catches the learning movement being applied, learning that does not end, a mapping not bound
// to the source it was learned from, and one not stored.
TEST_F(MIDIMappingManagerTest, LearningBindsToTheSourceAndDoesNotApplyTheFirstMovement) {
    MIDIMappingManager manager(defaults);
    manager.setLearningTarget("bus:main");
    EXPECT_EQ(manager.learnOrLookup(7, usbController), std::nullopt);
    EXPECT_FALSE(manager.learningTarget().has_value());
    EXPECT_EQ(storedMappings(defaults), Json::parse(R"({"7":{"target":"bus:main","sourceID":1715004}})"));
    EXPECT_EQ(manager.learnOrLookup(7, usbController), "bus:main");

    // The companion learns without a source.
    manager.setLearningTarget("transport:record");
    EXPECT_EQ(manager.learnOrLookup(20, std::nullopt), std::nullopt);
    EXPECT_EQ(storedMappings(defaults)["20"], Json::parse(R"({"target":"transport:record"})"));
    for (const char* line :
         {"Määritetty MIDI CC 7 (lähde 1715004) -> bus:main", "Määritetty MIDI CC 20 (lähde 0) -> transport:record"})
        EXPECT_EQ(logs->count(line, LogLevel::info), 1u) << line;
}

TEST_F(MIDIMappingManagerTest, AControllerDrivesOneTargetAndATargetHasOneController) {
    MIDIMappingManager manager(defaults);
    manager.assign(7, usbController, "com.example.player");
    manager.assign(7, usbController, "com.example.browser");
    EXPECT_EQ(manager.target(7, usbController), "com.example.browser");
    EXPECT_EQ(manager.ccNumber("com.example.player"), std::nullopt);

    manager.assign(8, usbController, "com.example.browser");
    EXPECT_EQ(manager.target(7, usbController), std::nullopt);
    EXPECT_EQ(manager.ccNumber("com.example.browser"), 8);

    manager.assign(9, std::nullopt, "system_input");
    manager.removeMapping("com.example.browser");
    EXPECT_EQ(storedMappings(defaults), Json::parse(R"({"9":{"target":"system_input"}})"));
}

// Catches a bound mapping answering another controller, a virtual source binding or driving an
// unbound one, the phone (no source) being refused, and a binding that is not stored.
TEST_F(MIDIMappingManagerTest, MappingsAnswerTheirOwnSourceAndTheFirstHardwareOneBindsTheRest) {
    MIDIMappingManager manager(defaults);
    manager.assign(7, usbController, "bus:phones");
    manager.assign(5, std::nullopt, "com.example.player");
    struct Case {
        int cc;
        std::optional<MIDISource> source;
        std::optional<std::string> target;
    };
    const Case cases[] = {
        {7, otherController, std::nullopt},
        {7, virtualSource, std::nullopt},
        {7, std::nullopt, "bus:phones"},
        {7, usbController, "bus:phones"},
        {8, usbController, std::nullopt},
        {5, virtualSource, std::nullopt},
        {5, std::nullopt, "com.example.player"},
        {5, otherController, "com.example.player"}, // binds here
        {5, usbController, std::nullopt},
        {5, virtualSource, std::nullopt},
        {5, otherController, "com.example.player"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.cc) + " from " + (c.source ? std::to_string(c.source->id) : "phone"));
        EXPECT_EQ(manager.target(c.cc, c.source), c.target);
    }
    EXPECT_EQ(storedMappings(defaults)["5"]["sourceID"], -4711);
    EXPECT_EQ(logs->count("MIDI CC 5 sidottu lähteeseen -4711", LogLevel::info), 1u);
    EXPECT_EQ(MIDIMappingManager(defaults).mappings(), manager.mappings());
}

// Catches a migration that loses entries, runs again, or sets the old form aside as unreadable.
TEST_F(MIDIMappingManagerTest, LegacyDictionaryIsMigratedOnce) {
    defaults.set("midiMappings",
                 DefaultsDictionary{{"7", DefaultsValue("bus:main")}, {"12", DefaultsValue("cue:com.example.a")}});
    MIDIMappingManager manager(defaults);
    EXPECT_EQ(manager.target(12, std::nullopt), "cue:com.example.a");
    EXPECT_EQ(storedMappings(defaults),
              Json::parse(R"({"12":{"target":"cue:com.example.a"},"7":{"target":"bus:main"}})"));
    EXPECT_EQ(MIDIMappingManager(defaults).mappings(), manager.mappings());
    for (const auto& [key, value] : defaults.all()) EXPECT_EQ(key, "midiMappings") << "nothing set aside";
    EXPECT_EQ(logs->count("Migratoitu 2 MIDI-kartoitusta lähdetietoiseen muotoon", LogLevel::info), 1u);
}

TEST_F(MIDIMappingManagerTest, UnreadableStoredFormsAndKeysGiveNoMappings) {
    // A dictionary with a value that is not a target: not migrated, left as it is.
    DefaultsDictionary mixed{{"7", DefaultsValue("bus:main")}, {"8", DefaultsValue(int64_t(3))}};
    defaults.set("midiMappings", mixed);
    EXPECT_TRUE(MIDIMappingManager(defaults).mappings().empty());
    EXPECT_EQ(defaults.dictionary("midiMappings"), mixed);

    for (const char* text : {R"({"7":{"target":"bus:main","sourceID":"12"}})", R"({"7":{"sourceID":12}})",
                             R"({"7":{"target":"bus:main","sourceID":12.5}})",
                             R"({"7":{"target":"bus:main","sourceID":4294967296}})", R"([1,2])", "{not json"}) {
        storeJSON(defaults, text);
        EXPECT_TRUE(MIDIMappingManager(defaults).mappings().empty()) << text;
    }
    storeJSON(defaults, R"({"7":{"target":"bus:main","sourceID":null}})");
    EXPECT_EQ(MIDIMappingManager(defaults).mappings().at("7"), (MIDIMapping{"bus:main", std::nullopt}));

    // A key that is not a plain number is never found.
    storeJSON(
        defaults,
        R"({"seven":{"target":"bus:main"},"":{"target":"system_input"},"7x":{"target":"x"},"+5":{"target":"system_output"}})");
    MIDIMappingManager manager(defaults);
    for (const char* target : {"bus:main", "system_input", "x"}) EXPECT_EQ(manager.ccNumber(target), std::nullopt);
    EXPECT_EQ(manager.ccNumber("system_output"), 5);
    for (int cc = 0; cc < 128; ++cc) EXPECT_EQ(manager.target(cc, std::nullopt), std::nullopt) << cc;
}

} // namespace
} // namespace orevant
