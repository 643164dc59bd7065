#include "persistence/volume_store.h"
#include "platform/capture_log_sink.h"
#include "platform/defaults_store.h"

#include <gtest/gtest.h>

using namespace orevant;

namespace {
// A setting with the given fields and the defaults for the rest.
AppVolume av(float volume, bool isMuted = false, std::vector<std::string> uids = {}, bool isCued = false,
             float cueVolume = 1.0f) {
    return AppVolume{volume, isMuted, std::move(uids), isCued, cueVolume};
}
std::string stored(const DefaultsStore& defaults, const std::string& key) {
    auto bytes = defaults.data(key);
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<absent>");
}

void storeText(DefaultsStore& defaults, const std::string& key, const std::string& text) {
    defaults.set(key, DefaultsValue(DefaultsData(text.begin(), text.end())));
}
} // namespace

TEST(VolumeStoreTest, SavesOnlyCustomisedEntries) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    store.save({{"com.a", AppVolume{}}, {"com.cue", av(1.0f, false, {}, false, 0.3f)}});
    EXPECT_EQ(stored(defaults, "appVolumes"), "{}");

    store.save({{"com.a", av(0.5f)}, {"com.b", av(0.99999f)}, {"com.c", AppVolume{}}});
    EXPECT_EQ(stored(defaults, "appVolumes"),
              R"({"com.a":{"volume":0.5,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0},)"
              R"("com.b":{"volume":0.99999,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0}})");
    const auto loaded = store.load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded.at("com.a"), av(0.5f));
    EXPECT_EQ(loaded.at("com.b"), av(0.99999f));
}

TEST(VolumeStoreTest, AnythingUnreadableLoadsAsAnEmptyMapWithoutALog) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    ScopedLogCapture capture;
    EXPECT_TRUE(store.load().empty()); // absent
    for (const std::string& text : {std::string(R"({"com.a":{"volume":0.5},"com.b":{"volume":"loud"}})"),
                                    std::string("{"), std::string("[]"), std::string("")}) {
        storeText(defaults, "appVolumes", text);
        EXPECT_TRUE(store.load().empty()) << text;
        EXPECT_EQ(stored(defaults, "appVolumes"), text); // untouched
    }
    defaults.set("appVolumes", DefaultsValue("not data"));
    EXPECT_TRUE(store.load().empty());
    EXPECT_TRUE(capture->records().empty());

    storeText(defaults, "appVolumes", R"({"com.legacy":{"outputDeviceUID":"X"}})");
    EXPECT_EQ(store.load().at("com.legacy").outputDeviceUIDs, std::vector<std::string>{"X"});
}

TEST(VolumeStoreTest, TheFirstSaveOverAnUnreadableDocumentKeepsACopyOfIt) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    ScopedLogCapture capture;
    const std::string bad = R"({"com.a":{"volume":0.5},"com.b":{"volume":"loud"}})";
    storeText(defaults, "appVolumes", bad);
    ASSERT_TRUE(store.load().empty());

    store.save({{"com.c", av(0.2f)}});
    EXPECT_EQ(stored(defaults, "appVolumes.unreadable"), bad);
    EXPECT_EQ(store.load().at("com.c"), av(0.2f));
    EXPECT_EQ(capture->count("appVolumes.unreadable", LogLevel::error), 1u);

    // Later saves replace a readable document: no further copy, no further log.
    store.save({{"com.c", av(0.4f)}});
    store.save({});
    EXPECT_EQ(capture->records().size(), 1u);
    EXPECT_EQ(stored(defaults, "appVolumes.unreadable"), bad);
    EXPECT_FALSE(defaults.object("appVolumes.unreadable.2"));

    // A second, different bad document does not overwrite the first copy.
    storeText(defaults, "appVolumes", "{oops");
    store.save({});
    EXPECT_EQ(stored(defaults, "appVolumes.unreadable"), bad);
    EXPECT_EQ(stored(defaults, "appVolumes.unreadable.2"), "{oops");
    // A readable one is simply replaced.
    EXPECT_EQ(stored(defaults, "appVolumes"), "{}");

    // The same bad bytes seen again are not copied twice.
    storeText(defaults, "appVolumes", bad);
    store.save({});
    EXPECT_FALSE(defaults.object("appVolumes.unreadable.3"));
}
