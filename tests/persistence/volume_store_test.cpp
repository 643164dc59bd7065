#include "persistence/volume_store.h"
#include "platform/capture_log_sink.h"
#include "support/stored_documents.h"

#include <gtest/gtest.h>

using namespace orevant;
using test::av;
using test::stored;
using test::storeText;

TEST(VolumeStoreTest, SavesOnlyCustomisedEntries) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    store.save({{"com.a", AppVolume{}}, {"com.cue", av(1.0f, false, {}, false, 0.3f)}});
    EXPECT_EQ(stored(defaults, "appVolumes"), "{}");

    store.save({{"com.a", av(0.5f)}, {"com.b", av(0.99999f)}, {"com.c", AppVolume{}}});
    EXPECT_EQ(stored(defaults, "appVolumes"),
              R"({"com.a":{"volume":0.5,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0},)"
              R"("com.b":{"volume":0.99999,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0}})");
    EXPECT_EQ(store.load(), (std::map<std::string, AppVolume>{{"com.a", av(0.5f)}, {"com.b", av(0.99999f)}}));
}

// One bad entry empties the whole map (no half-applied settings); loading never logs and never
// touches what is stored; saving over it keeps a copy.
TEST(VolumeStoreTest, AnythingUnreadableLoadsAsAnEmptyMapAndIsKeptBySaving) {
    InMemoryDefaultsStore defaults;
    VolumeStore store(defaults);
    ScopedLogCapture capture;
    EXPECT_TRUE(store.load().empty()); // absent
    for (const std::string& text : {std::string(R"({"com.a":{"volume":0.5},"com.b":{"volume":"loud"}})"),
                                    std::string("{"), std::string("[]"), std::string("")}) {
        storeText(defaults, "appVolumes", text);
        EXPECT_TRUE(store.load().empty()) << text;
        EXPECT_EQ(stored(defaults, "appVolumes"), text);
    }
    defaults.set("appVolumes", DefaultsValue("not data"));
    EXPECT_TRUE(store.load().empty());
    EXPECT_TRUE(capture->records().empty());

    // Fault: the first save over an unreadable document lost it; a copy is kept.
    storeText(defaults, "appVolumes", "{");
    store.save({{"com.c", av(0.2f)}});
    EXPECT_EQ(stored(defaults, "appVolumes.unreadable"), "{");
    EXPECT_EQ(store.load().at("com.c"), av(0.2f));
}
