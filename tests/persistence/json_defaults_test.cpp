#include "persistence/defaults_keys.h"
#include "persistence/json_defaults.h"
#include "platform/capture_log_sink.h"

#include <gtest/gtest.h>

using namespace orevant;

namespace {
// A type of another component, stored the same way.
struct Pairing {
    int mainOffset = 0;
    int phonesOffset = 0;
    bool operator==(const Pairing&) const = default;
};
void to_json(Json& j, const Pairing& p) { j = Json{{"mainOffset", p.mainOffset}, {"phonesOffset", p.phonesOffset}}; }
void from_json(const Json& j, Pairing& p) {
    p.mainOffset = j.at("mainOffset").get<int>();
    p.phonesOffset = j.at("phonesOffset").get<int>();
}

std::string stored(const DefaultsStore& defaults, const std::string& key) {
    auto bytes = defaults.data(key);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<absent>");
}
} // namespace

TEST(JSONDefaultsTest, RoundTripsAnyCodableTypeInCompactForm) {
    InMemoryDefaultsStore defaults;
    const std::map<std::string, Pairing> pairings{{"UID-1", {2, 4}}};
    JSONDefaults::save(pairings, defaults_keys::busPairings, defaults);
    EXPECT_EQ(stored(defaults, "busPairings"), R"({"UID-1":{"mainOffset":2,"phonesOffset":4}})");
    EXPECT_EQ(JSONDefaults::load<decltype(pairings)>("busPairings", defaults), pairings);

    const std::vector<std::string> order{"b/1", "a"};
    JSONDefaults::save(order, defaults_keys::devicePriority, defaults);
    EXPECT_EQ(JSONDefaults::load<std::vector<std::string>>("devicePriority", defaults), order);
    // A document of another shape is nothing, not a partial value.
    EXPECT_FALSE((JSONDefaults::load<std::map<std::string, Pairing>>("devicePriority", defaults)));
    EXPECT_FALSE(JSONDefaults::load<std::vector<std::string>>("missing", defaults));
}

TEST(JSONDefaultsTest, AnEncodingFailureIsLoggedAndKeepsThePreviousEntry) {
    InMemoryDefaultsStore defaults;
    ScopedLogCapture capture;
    JSONDefaults::save(std::vector<std::string>{"ok"}, "devicePriority", defaults);
    JSONDefaults::save(std::vector<std::string>{"bad \xff"}, "devicePriority", defaults);
    JSONDefaults::save(std::map<std::string, float>{{"x", 0.5f}}, "other", defaults);
    EXPECT_EQ(stored(defaults, "devicePriority"), R"(["ok"])");
    auto records = capture->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].category, "JSONDefaults");
    EXPECT_EQ(records[0].level, LogLevel::error);
    EXPECT_EQ(records[0].message, "Failed to encode devicePriority; not persisted");
    EXPECT_EQ(defaults.writeCount("devicePriority"), 1u);
}

TEST(JSONDefaultsTest, AnUnreadableEntryOfAnyKindIsKeptBeforeItIsReplaced) {
    InMemoryDefaultsStore defaults;
    ScopedLogCapture capture;
    // Written by something else as a native array: not a document at all.
    defaults.set("devicePriority", DefaultsValue(DefaultsStringArray{"legacy"}));
    EXPECT_FALSE(JSONDefaults::load<std::vector<std::string>>("devicePriority", defaults));
    JSONDefaults::save(std::vector<std::string>{"new"}, "devicePriority", defaults);
    EXPECT_EQ(defaults.stringArray("devicePriority.unreadable"), DefaultsStringArray{"legacy"});
    EXPECT_EQ(capture->count("devicePriority.unreadable", LogLevel::error), 1u);

    // Raw documents carry their own reader; without one nothing is kept.
    const std::string text = "not json";
    defaults.set("midiMappings", DefaultsValue(DefaultsData(text.begin(), text.end())));
    JSONDefaults::saveJSON(Json::object(), "midiMappings", defaults);
    EXPECT_FALSE(defaults.object("midiMappings.unreadable"));
    EXPECT_EQ(JSONDefaults::loadJSON("midiMappings", defaults), Json::object());
}
