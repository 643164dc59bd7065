// Scenes and console slots on their own: overwriting by name, the next default name, and which
// stored slot lists load.
#include "engine/scene_book.h"

#include "platform/defaults_store.h"

#include <gtest/gtest.h>

namespace orevant {
namespace {

MixSnapshot scene(const std::string& name, float mainLevel) {
    MixSnapshot made;
    made.id = UUID::random();
    made.name = name;
    made.mainLevel = mainLevel;
    return made;
}

TEST(SceneBookTest, SavingUnderAnExistingNameOverwritesInPlaceAndKeepsTheIdentity) {
    InMemoryDefaultsStore defaults;
    SceneBook book(defaults);
    book.save(scene("Evening", 0.2f));
    book.save(scene("Night", 0.1f));
    const UUID evening = book.snapshots().front().id;
    EXPECT_EQ(book.nextSceneName(), "Scene 3");

    book.save(scene("Evening", 0.9f));
    ASSERT_EQ(book.snapshots().size(), 2u);
    EXPECT_EQ(book.snapshots().front().id, evening);
    EXPECT_EQ(book.snapshots().front().mainLevel, std::optional<float>(0.9f));
    EXPECT_EQ(book.snapshots().back().name, "Night");

    book.remove(evening);
    SceneBook restarted(defaults);
    restarted.load();
    ASSERT_EQ(restarted.snapshots().size(), 1u);
    EXPECT_EQ(restarted.snapshots().front().name, "Night");
}

TEST(SceneBookTest, OnlyEightStoredSlotsLoadAndASlotChangesOnlyToSomethingElse) {
    const std::vector<std::string> standard{"bus:main", "bus:phones", "", "", "", "", "", ""};
    const std::vector<std::string> eight{"a", "b", "c", "d", "e", "f", "g", "h"};
    const struct {
        std::optional<DefaultsValue> stored;
        std::vector<std::string> loaded;
    } cases[] = {
        {std::nullopt, standard},
        {DefaultsValue(DefaultsStringArray{"a", "b", "c", "d", "e", "f"}), standard},
        {DefaultsValue(DefaultsStringArray{"a", "b", "c", "d", "e", "f", "g", "h", "i"}), standard},
        {DefaultsValue(std::string("bus:main")), standard},
        {DefaultsValue(DefaultsStringArray(eight)), eight},
    };
    for (const auto& c : cases) {
        InMemoryDefaultsStore defaults;
        if (c.stored) defaults.set("consoleSlots", *c.stored);
        EXPECT_EQ(SceneBook(defaults).loadSlots(), c.loaded);
    }

    InMemoryDefaultsStore defaults;
    SceneBook book(defaults);
    book.load();
    EXPECT_FALSE(book.setSlot(2, "")) << "already empty";
    EXPECT_FALSE(book.setSlot(8, "x"));
    EXPECT_TRUE(book.setSlot(2, "com.example.music"));
    EXPECT_EQ(defaults.writeCount("consoleSlots"), 1u);
    EXPECT_EQ(SceneBook(defaults).loadSlots()[2], "com.example.music");
}

} // namespace
} // namespace orevant
