#include "persistence/app_volume.h"
#include "support/stored_documents.h"

#include <gtest/gtest.h>

using namespace orevant;

using test::av;

namespace {
AppVolume decode(const char* text) { return Json::parse(text).get<AppVolume>(); }
} // namespace

TEST(AppVolumeTest, DecodingIsTolerantAndReadsTheLegacyRoute) {
    EXPECT_EQ(decode("{}"), AppVolume{});
    EXPECT_EQ(decode(R"({"volume":null,"isMuted":null})"), AppVolume{});

    EXPECT_EQ(decode(R"({"outputDeviceUID":"X"})"), av(1.0f, false, {"X"}));
    // The list wins over the legacy key, even when empty.
    EXPECT_TRUE(decode(R"({"outputDeviceUIDs":[],"outputDeviceUID":"X"})").outputDeviceUIDs.empty());

    const AppVolume full =
        decode(R"({"volume":0.25,"isMuted":true,"outputDeviceUIDs":["A","B"],"isCued":true,"cueVolume":0,"x":1})");
    EXPECT_EQ(full, av(0.25f, true, {"A", "B"}, true, 0.0f));
}

TEST(AppVolumeTest, AKeyOfTheWrongTypeFailsTheWholeObject) {
    for (const char* text : {R"({"volume":"0.5"})", R"({"isMuted":1})", R"({"outputDeviceUIDs":"A"})",
                             R"({"outputDeviceUIDs":["A",2]})", R"({"outputDeviceUID":7})", R"({"isCued":"yes"})",
                             R"({"cueVolume":true})", R"({"volume":1e300})", R"([])", R"("x")"}) {
        EXPECT_THROW(decode(text), std::exception) << text;
    }
}

TEST(AppVolumeTest, WritesExactlyTheFiveKeysInOrderWithShortFloats) {
    const AppVolume value{0.3f, false, {}, false, 0.7f};
    EXPECT_EQ(Json(value).dump(),
              R"({"volume":0.3,"isMuted":false,"outputDeviceUIDs":[],"isCued":false,"cueVolume":0.7})");
    // What is written reads back to the same float.
    EXPECT_EQ(decode(Json(value).dump().c_str()), value);
    const AppVolume odd{0.99999f, true, {"a\"b"}, true, 1e-7f};
    EXPECT_EQ(decode(Json(odd).dump().c_str()), odd);
    // Not a number cannot be written.
    EXPECT_THROW(Json(av(std::numeric_limits<float>::quiet_NaN())), std::exception);
}

TEST(AppVolumeTest, CustomisedMeansADifferenceOtherThanCueVolume) {
    EXPECT_FALSE(AppVolume{}.isCustomized());
    EXPECT_FALSE(av(1.0f, false, {}, false, 0.3f).isCustomized());
    EXPECT_TRUE(av(0.99999f).isCustomized());
    EXPECT_TRUE(av(1.00001f).isCustomized());
    EXPECT_TRUE(av(1.0f, true).isCustomized());
    EXPECT_TRUE(av(1.0f, false, {"X"}).isCustomized());
    EXPECT_TRUE(av(1.0f, false, {}, true).isCustomized());
    EXPECT_NE(av(1.0f, false, {"A", "B"}), av(1.0f, false, {"B", "A"}));
}
