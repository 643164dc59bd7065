#include "persistence/defaults_keys.h"
#include "persistence/json_defaults.h"
#include "platform/capture_log_sink.h"
#include "support/stored_documents.h"

#include <gtest/gtest.h>

using namespace orevant;
using test::av;
using test::stored;
using test::storeText;

TEST(JSONDefaultsTest, RoundTripsAnyCodableTypeInCompactForm) {
    InMemoryDefaultsStore defaults;
    const std::map<std::string, AppVolume> volumes{{"com.a", av(0.5f)}};
    JSONDefaults::save(volumes, defaults_keys::appVolumes, defaults);
    EXPECT_EQ(stored(defaults, "appVolumes"),
              R"({"com.a":{"volume":0.5,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0}})");
    EXPECT_EQ(JSONDefaults::load<decltype(volumes)>("appVolumes", defaults), volumes);

    const std::vector<std::string> order{"b/1", "a"};
    JSONDefaults::save(order, defaults_keys::devicePriority, defaults);
    EXPECT_EQ(JSONDefaults::load<std::vector<std::string>>("devicePriority", defaults), order);
    // A document of another shape is nothing, not a partial value.
    EXPECT_FALSE((JSONDefaults::load<std::map<std::string, AppVolume>>("devicePriority", defaults)));
    EXPECT_FALSE(JSONDefaults::load<std::vector<std::string>>("missing", defaults));
}

TEST(JSONDefaultsTest, AnEncodingFailureIsLoggedAndKeepsThePreviousEntry) {
    InMemoryDefaultsStore defaults;
    ScopedLogCapture capture;
    JSONDefaults::save(std::vector<std::string>{"ok"}, "devicePriority", defaults);
    JSONDefaults::save(std::vector<std::string>{"bad \xff"}, "devicePriority", defaults);
    JSONDefaults::save(std::map<std::string, float>{{"x", 0.5f}}, "other", defaults);
    EXPECT_EQ(stored(defaults, "devicePriority"), R"(["ok"])");
    ASSERT_EQ(capture->records().size(), 1u);
    EXPECT_EQ(capture->count("Failed to encode devicePriority; not persisted", LogLevel::error), 1u);
    EXPECT_EQ(defaults.writeCount("devicePriority"), 1u);
}

// Nothing stored is lost to a save: each different unreadable entry is kept once, under the
// next free ".unreadable" key, and logged; a readable entry is simply replaced.
TEST(JSONDefaultsTest, AnUnreadableEntryOfAnyKindIsKeptOnceBeforeItIsReplaced) {
    InMemoryDefaultsStore defaults;
    ScopedLogCapture capture;
    const auto save = [&] { JSONDefaults::save(std::vector<std::string>{"new"}, "devicePriority", defaults); };
    // Written by something else as a native array: not a document at all.
    defaults.set("devicePriority", DefaultsValue(DefaultsStringArray{"legacy"}));
    EXPECT_FALSE(JSONDefaults::load<std::vector<std::string>>("devicePriority", defaults));
    save();
    EXPECT_EQ(defaults.stringArray("devicePriority.unreadable"), DefaultsStringArray{"legacy"});
    EXPECT_EQ(capture->count("devicePriority.unreadable", LogLevel::error), 1u);
    save();
    EXPECT_EQ(capture->records().size(), 1u) << "a readable entry is replaced without a copy";

    struct Step {
        const char* stored;
        const char* keptAs; // nullptr: no new copy
    };
    for (const Step& s : {Step{"{oops", "devicePriority.unreadable.2"}, Step{"{oops", nullptr},
                          Step{"[1,", "devicePriority.unreadable.3"}}) {
        const size_t copies = capture->records().size();
        storeText(defaults, "devicePriority", s.stored);
        save();
        EXPECT_EQ(capture->records().size(), copies + (s.keptAs ? 1 : 0)) << s.stored;
        if (s.keptAs) {
            EXPECT_EQ(stored(defaults, s.keptAs), s.stored);
        }
    }
    EXPECT_EQ(defaults.stringArray("devicePriority.unreadable"), DefaultsStringArray{"legacy"}) << "never overwritten";
    EXPECT_FALSE(defaults.object("devicePriority.unreadable.4"));

    // Raw documents carry their own reader; without one nothing is kept.
    storeText(defaults, "midiMappings", "not json");
    JSONDefaults::saveJSON(Json::object(), "midiMappings", defaults);
    EXPECT_FALSE(defaults.object("midiMappings.unreadable"));
    EXPECT_EQ(JSONDefaults::loadJSON("midiMappings", defaults), Json::object());
}
