#include "persistence/snapshot_store.h"
#include "platform/defaults_store.h"
#include "support/stored_documents.h"

#include <gtest/gtest.h>

using namespace orevant;

using test::av;

namespace {
std::string stored(const DefaultsStore& defaults) { return test::stored(defaults, "mixSnapshots"); }
void storeText(DefaultsStore& defaults, const std::string& text) { test::storeText(defaults, "mixSnapshots", text); }
const UUID kID = *UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
} // namespace

TEST(SnapshotStoreTest, WritesTheKeysInOrderAndLeavesAbsentLevelsOut) {
    InMemoryDefaultsStore defaults;
    SnapshotStore store(defaults);
    MixSnapshot scene{kID,  "Stream",     {{"com.a", av(0.5f)}, {"com.b", AppVolume{}}},
                      0.8f, std::nullopt, ReferenceDate{700000000.5}};
    store.save({scene});
    EXPECT_EQ(stored(defaults),
              R"([{"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"Stream","volumes":{)"
              R"("com.a":{"volume":0.5,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0},)"
              R"("com.b":{"volume":1.0,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":1.0}},)"
              R"("mainLevel":0.8,"savedAt":700000000.5}])");
    EXPECT_EQ(store.load(), std::vector<MixSnapshot>{scene});

    // Order is the list's; both levels present round-trip; dates keep every bit.
    MixSnapshot second{UUID::random(), "Late", {}, std::nullopt, 0.25f, ReferenceDate::now()};
    store.save({second, scene});
    EXPECT_EQ(store.load(), (std::vector<MixSnapshot>{second, scene}));
}

TEST(SnapshotStoreTest, OneUnreadableSceneEmptiesTheWholeList) {
    InMemoryDefaultsStore defaults;
    SnapshotStore store(defaults);
    EXPECT_TRUE(store.load().empty());
    const std::string good = R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"A","volumes":{},"savedAt":1})";
    storeText(defaults, "[" + good + "]");
    EXPECT_EQ(store.load().size(), 1u);
    for (const char* bad :
         {R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"B","volumes":{}})",         // no savedAt
          R"({"id":"E621E1F8C36C495A93FC0C247A3E6E5F","name":"B","volumes":{},"savedAt":1})", // not canonical
          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","volumes":{},"savedAt":1})",        // no name
          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"B","savedAt":1})",          // no volumes
          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"B","volumes":{},"savedAt":"now"})",
          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"B","volumes":{},"savedAt":1,"mainLevel":"x"})",
          R"({"id":"E621E1F8-C36C-495A-93FC-0C247A3E6E5F","name":"B","volumes":{"a":{"isMuted":0}},"savedAt":1})"}) {
        storeText(defaults, "[" + good + "," + std::string(bad) + "]");
        EXPECT_TRUE(store.load().empty()) << bad;
    }
}

TEST(SnapshotStoreTest, ReadsLegacyRoutesAndLowerCaseIdentifiers) {
    InMemoryDefaultsStore defaults;
    storeText(defaults, R"([{"id":"e621e1f8-c36c-495a-93fc-0c247a3e6e5f","name":"Old","savedAt":-5.25,)"
                        R"("volumes":{"com.b":{"outputDeviceUID":"Y"}},"mainLevel":null}])");
    const MixSnapshot old{kID, "Old", {{"com.b", av(1.0f, false, {"Y"})}}, {}, {}, ReferenceDate{-5.25}};
    EXPECT_EQ(SnapshotStore(defaults).load(), std::vector<MixSnapshot>{old});
}

TEST(UUIDTest, RandomIdentifiersAreVersionFourAndCanonical) {
    const UUID a = UUID::random(), b = UUID::random();
    EXPECT_NE(a, b);
    const std::string text = a.uuidString();
    ASSERT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    EXPECT_EQ(text.find_first_of("abcdef"), std::string::npos);
    EXPECT_EQ(UUID::parse(text), a);
    EXPECT_FALSE(UUID::parse(""));
    EXPECT_FALSE(UUID::parse("E621E1F8-C36C-495A-93FC-0C247A3E6E5G"));
    EXPECT_FALSE(UUID::parse("{E621E1F8-C36C-495A-93FC-0C247A3E6E5F}"));
}
