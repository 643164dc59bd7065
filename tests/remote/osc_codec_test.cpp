#include "remote/osc_codec.h"

#include "osc_test_peer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace orevant {
namespace {

using test::Bytes;
using test::intMessage;

std::optional<OSCMessage> decode(const Bytes& bytes) { return OSCCodec::decode(bytes.data(), bytes.size()); }

TEST(OSCCodecTest, FloatShapePadsTheAddressAndWritesBigEndian) {
    const Bytes meters = OSCCodec::encode("/meters", 1.0f);
    const Bytes expected = {'/', 'm', 'e', 't', 'e', 'r', 's', 0, ',', 'f', 0, 0, 0x3f, 0x80, 0x00, 0x00};
    EXPECT_EQ(meters, expected);

    // An address of 8 bytes gets four 0 bytes; 9 bytes give 12.
    const Bytes eight = OSCCodec::encode("/abcdefg", 0.0f);
    ASSERT_EQ(eight.size(), 12u + 4u + 4u);
    EXPECT_EQ(Bytes(eight.begin() + 8, eight.begin() + 12), Bytes(4, 0));
    const Bytes appList = OSCCodec::encode("/app/list", std::string_view("x"));
    EXPECT_EQ(appList[9], 0);
    EXPECT_EQ(appList[11], 0);
    EXPECT_EQ(appList[12], ',');
}

TEST(OSCCodecTest, StringShapeTerminatesAndPadsTheString) {
    const Bytes bytes = OSCCodec::encode("/app/list", std::string_view("{}"));
    const Bytes expected = {'/', 'a', 'p', 'p', '/', 'l', 'i', 's', 't', 0, 0, 0, ',', 's', 0, 0, '{', '}', 0, 0};
    EXPECT_EQ(bytes, expected);
    // A string of exactly four bytes still gets its terminator and a full pad.
    EXPECT_EQ(OSCCodec::encode("/x", std::string_view("abcd")).size(), 4u + 4u + 8u);
    auto decoded = test::decodeStringMessage(OSCCodec::encode("/meters", std::string_view("{\"a\":0.5}")));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->address, "/meters");
    EXPECT_EQ(decoded->value, "{\"a\":0.5}");
}

TEST(OSCCodecTest, AddressThatIsNotUTF8EncodesToNothing) {
    EXPECT_TRUE(OSCCodec::encode("/bad\xff", 1.0f).empty());
    EXPECT_TRUE(OSCCodec::encode("/bad\xc0\xaf", std::string_view("x")).empty()); // overlong "/"
    EXPECT_TRUE(OSCCodec::encode("/bad\xed\xa0\x80", 1.0f).empty());              // surrogate
    EXPECT_FALSE(OSCCodec::encode("/caf\xc3\xa9", 1.0f).empty());
}

TEST(OSCCodecTest, FloatAndIntegerArguments) {
    auto f = decode(OSCCodec::encode("/a/1/panic", 0.25f));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->address, "/a/1/panic");
    EXPECT_FLOAT_EQ(f->value, 0.25f);

    auto i = decode(intMessage("/panic", 64));
    ASSERT_TRUE(i);
    EXPECT_FLOAT_EQ(i->value, 64.0f / 127.0f);
    EXPECT_FLOAT_EQ(decode(intMessage("/panic", 127))->value, 1.0f);
    EXPECT_FLOAT_EQ(decode(intMessage("/panic", -127))->value, -1.0f);
}

// A later "f" once made the first argument's bytes read as a float (",if 1 0.25" gave 1e-45,
// ",sf \"abcd\" 0.25" gave 1.0): only the first argument's own tag counts.
TEST(OSCCodecTest, OnlyTheFirstArgumentsTagDecides) {
    auto twoArguments = [](const std::string& tags, uint32_t first, uint32_t second) {
        Bytes bytes = intMessage("/x", static_cast<int32_t>(first), tags);
        test::appendBigEndian(bytes, second);
        return decode(bytes);
    };
    const uint32_t quarter = 0x3e800000; // 0.25f
    const uint32_t abcd = 0x61626364;    // "abcd" as the string argument's bytes
    struct Case {
        const char* tags;
        uint32_t first;
        std::optional<float> value;
    };
    const Case cases[] = {
        {",if", 127, 1.0f},          {",fi", quarter, 0.25f},  {",ii", 127, 1.0f},
        {",sf", abcd, std::nullopt}, {",Tf", 0, std::nullopt}, {",bf", 4, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tags);
        auto message = twoArguments(c.tags, c.first, quarter);
        ASSERT_EQ(message.has_value(), c.value.has_value());
        if (c.value) {
            EXPECT_FLOAT_EQ(message->value, *c.value);
        }
    }
}

TEST(OSCCodecTest, MalformedDatagramsAreDropped) {
    EXPECT_FALSE(OSCCodec::decode(nullptr, 0));
    EXPECT_FALSE(decode(Bytes{'/', 'x'}));             // no terminator
    EXPECT_FALSE(decode(Bytes{'/', 'x', 0, 0}));       // no type tags
    EXPECT_FALSE(decode(intMessage("x/no/slash", 1))); // not "/"
    EXPECT_FALSE(decode(intMessage("/x", 1, "i")));    // tags without ","
    EXPECT_FALSE(decode(intMessage("/x", 1, ",s")));   // string argument
    EXPECT_FALSE(decode(intMessage("/x", 1, ",")));    // no argument tag
    EXPECT_FALSE(decode(intMessage("#bundle", 1)));    // bundles
    Bytes noTagEnd = {'/', 'x', 0, 0, ',', 'f', 'f', 'f'};
    EXPECT_FALSE(decode(noTagEnd));
    Bytes shortArg = OSCCodec::encode("/x", 1.0f);
    shortArg.pop_back();
    EXPECT_FALSE(decode(shortArg)); // 3 argument bytes
    Bytes noArg = OSCCodec::encode("/x", 1.0f);
    noArg.resize(noArg.size() - 4);
    EXPECT_FALSE(decode(noArg));
    Bytes badTagUTF8 = intMessage("/x", 1, ",i\xff");
    EXPECT_FALSE(decode(badTagUTF8));
    Bytes badAddressUTF8 = intMessage("/\xc3", 1);
    EXPECT_FALSE(decode(badAddressUTF8));
}

TEST(OSCCodecTest, DecodeReadsOnlyInsideTheDatagram) {
    // Every prefix of a valid message is decoded without reading past its end (ASan checks the
    // heap copy of exactly that size) and only the full message decodes.
    const Bytes full = OSCCodec::encode("/a/123456/volume/com.example.app", 0.5f);
    for (size_t n = 0; n < full.size(); ++n) {
        Bytes prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_FALSE(decode(prefix)) << n;
    }
    EXPECT_TRUE(decode(full));
}

TEST(OSCCodecTest, ClampLimitsToTheUnitRange) {
    EXPECT_EQ(OSCCodec::clampValue(1.7f), 1.0f);
    EXPECT_EQ(OSCCodec::clampValue(-0.2f), 0.0f);
    EXPECT_EQ(OSCCodec::clampValue(0.3f), 0.3f);
    EXPECT_EQ(OSCCodec::clampValue(std::numeric_limits<float>::quiet_NaN()), 1.0f);
    EXPECT_EQ(OSCCodec::clampValue(std::numeric_limits<float>::infinity()), 1.0f);
    EXPECT_EQ(OSCCodec::clampValue(-std::numeric_limits<float>::infinity()), 0.0f);
}

} // namespace
} // namespace orevant
