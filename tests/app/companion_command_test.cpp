#include "app/companion_command.h"

#include "remote/osc_codec.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace orevant {
namespace {

TEST(CompanionCommandTest, EachCommandBuildsThePhonesMessageWithThePIN) {
    using C = CompanionCommand;
    using M = CompanionMessage;
    const std::string pin = "012345";
    const std::pair<M, M> cases[] = {
        {C::volume(pin, "com.example.player", "0.5"), {"/a/012345/volume/com.example.player", 0.5f}},
        {C::volume(pin, "bus:phones", "25%"), {"/a/012345/volume/bus:phones", 0.25f}},
        {C::cue(pin, "com.example.player", "on"), {"/a/012345/cue/com.example.player", 1}},
        {C::cue(pin, "com.example.player", "OFF"), {"/a/012345/cue/com.example.player", 0}},
        {C::cueVolume(pin, "a.b", "1"), {"/a/012345/cuevolume/a.b", 1}},
        {C::slot(pin, 2, "bus:main"), {"/a/012345/slot/2/bus:main", 1}},
        {C::slot(pin, 2, ""), {"/a/012345/slot/2/", 1}},
        {C::panic(pin, "yes"), {"/a/012345/panic", 1}},
        {C::record(pin, "0"), {"/a/012345/record", 0}},
        {C::recallScene(pin, 3), {"/a/012345/snapshot/3", 1}},
        {C::saveScene(pin), {"/a/012345/snapshot/save", 1}},
        {C::control(pin, 7, "0.5"), {"/a/012345/orevant/7", 0.5f}},
    };
    for (const auto& [built, expected] : cases) EXPECT_EQ(built, expected) << expected.address;
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
    EXPECT_THAT([] { CompanionCommand::parseLevel("1.5"); },
                testing::ThrowsMessage<std::invalid_argument>(testing::StrEq("'1.5' is outside 0...1 (0%...100%)")));
}

TEST(CompanionCommandTest, DocumentsSentBackAreReadAndAnythingElseIsNot) {
    const std::string doc = R"({"apps":[],"slots":[],"snapshotNames":[],"isPanicked":false})";
    const auto bytes = OSCCodec::encode("/app/list", doc);
    const auto read = CompanionCommand::decodeStringMessage(bytes.data(), bytes.size());
    ASSERT_TRUE(read);
    EXPECT_EQ(read->address, "/app/list");
    EXPECT_EQ(read->text, doc);

    const auto numeric = OSCCodec::encode("/meters", 0.5f);
    EXPECT_FALSE(CompanionCommand::decodeStringMessage(numeric.data(), numeric.size()));
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        EXPECT_FALSE(CompanionCommand::decodeStringMessage(bytes.data(), cut)) << cut;
    }
}

} // namespace
} // namespace orevant
