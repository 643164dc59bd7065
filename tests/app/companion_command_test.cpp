#include "app/companion_command.h"

#include "remote/osc_codec.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace orevant {
namespace {

TEST(CompanionCommandTest, EachCommandBuildsThePhonesMessageWithThePIN) {
    const std::string pin = "012345";
    EXPECT_EQ(CompanionCommand::volume(pin, "com.example.player", "0.5"),
              (CompanionMessage{"/a/012345/volume/com.example.player", 0.5f}));
    EXPECT_EQ(CompanionCommand::volume(pin, "bus:phones", "25%"),
              (CompanionMessage{"/a/012345/volume/bus:phones", 0.25f}));
    EXPECT_EQ(CompanionCommand::cue(pin, "com.example.player", "on"),
              (CompanionMessage{"/a/012345/cue/com.example.player", 1}));
    EXPECT_EQ(CompanionCommand::cue(pin, "com.example.player", "OFF"),
              (CompanionMessage{"/a/012345/cue/com.example.player", 0}));
    EXPECT_EQ(CompanionCommand::cueVolume(pin, "a.b", "1"), (CompanionMessage{"/a/012345/cuevolume/a.b", 1}));
    EXPECT_EQ(CompanionCommand::slot(pin, 2, "bus:main"), (CompanionMessage{"/a/012345/slot/2/bus:main", 1}));
    EXPECT_EQ(CompanionCommand::slot(pin, 2, ""), (CompanionMessage{"/a/012345/slot/2/", 1}));
    EXPECT_EQ(CompanionCommand::panic(pin, "yes"), (CompanionMessage{"/a/012345/panic", 1}));
    EXPECT_EQ(CompanionCommand::record(pin, "0"), (CompanionMessage{"/a/012345/record", 0}));
    EXPECT_EQ(CompanionCommand::recallScene(pin, 3), (CompanionMessage{"/a/012345/snapshot/3", 1}));
    EXPECT_EQ(CompanionCommand::saveScene(pin), (CompanionMessage{"/a/012345/snapshot/save", 1}));
    EXPECT_EQ(CompanionCommand::control(pin, 7, "0.5"), (CompanionMessage{"/a/012345/orevant/7", 0.5f}));

    // What the agent's decoder makes of it.
    const auto m = CompanionCommand::volume(pin, "system_output", "0.75");
    const auto bytes = OSCCodec::encode(m.address, m.value);
    const auto decoded = OSCCodec::decode(bytes.data(), bytes.size());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->address, "/a/012345/volume/system_output");
    EXPECT_FLOAT_EQ(decoded->value, 0.75f);
}

TEST(CompanionCommandTest, BadArgumentsAreRefusedWithAClearReason) {
    EXPECT_THROW(CompanionCommand::panic("12345", "on"), std::invalid_argument);
    EXPECT_THROW(CompanionCommand::panic("12345a", "on"), std::invalid_argument);
    EXPECT_THROW(CompanionCommand::panic("123456", "maybe"), std::invalid_argument);
    EXPECT_THROW(CompanionCommand::volume("123456", "", "0.5"), std::invalid_argument);
    for (const char* bad : {"1.5", "-0.1", "abc", "", "0.5x", "120%", "nan", "inf"}) {
        EXPECT_THROW(CompanionCommand::parseLevel(bad), std::invalid_argument) << bad;
    }
    EXPECT_THROW(CompanionCommand::slot("123456", -1, "x"), std::invalid_argument);
    EXPECT_THROW(CompanionCommand::recallScene("123456", -1), std::invalid_argument);
    try {
        CompanionCommand::parseLevel("1.5");
        FAIL();
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "'1.5' is outside 0...1 (0%...100%)");
    }
}

TEST(CompanionCommandTest, DocumentsSentBackAreReadAndAnythingElseIsNot) {
    const std::string doc = R"({"apps":[],"slots":[],"snapshotNames":[],"isPanicked":false})";
    auto bytes = OSCCodec::encode("/app/list", doc);
    auto read = CompanionCommand::decodeStringMessage(bytes.data(), bytes.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->address, "/app/list");
    EXPECT_EQ(read->text, doc);

    bytes = OSCCodec::encode("/meters", std::string("{}"));
    read = CompanionCommand::decodeStringMessage(bytes.data(), bytes.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->text, "{}");

    const auto numeric = OSCCodec::encode("/meters", 0.5f);
    EXPECT_FALSE(CompanionCommand::decodeStringMessage(numeric.data(), numeric.size()));
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(CompanionCommand::decodeStringMessage(bytes.data(), cut)) << cut;
    }
}

} // namespace
} // namespace orevant
