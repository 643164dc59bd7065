#include "remote/osc_codec.h"

#include "osc_test_peer.h"

#include <gtest/gtest.h>
#include <limits>

namespace orevant {
namespace {

using test::Bytes;
using test::intMessage;

std::optional<OSCMessage> decode(const Bytes& bytes) { return OSCCodec::decode(bytes.data(), bytes.size()); }

// Catches a missing terminator or pad (parts of exactly 4n bytes), little-endian arguments, and
// an address that is not UTF-8 sent on.
TEST(OSCCodecTest, EncodingPadsEachPartToFourBytesBigEndianAndNeedsUTF8) {
    const Bytes meters = {'/', 'm', 'e', 't', 'e', 'r', 's', 0, ',', 'f', 0, 0, 0x3f, 0x80, 0x00, 0x00};
    EXPECT_EQ(OSCCodec::encode("/meters", 1.0f), meters);
    const Bytes appList = {'/', 'a', 'p', 'p', '/', 'l', 'i', 's', 't', 0, 0, 0, ',', 's', 0, 0, '{', '}', 0, 0};
    EXPECT_EQ(OSCCodec::encode("/app/list", std::string_view("{}")), appList);
    EXPECT_EQ(OSCCodec::encode("/abcdefg", 0.0f).size(), 12u + 4u + 4u);
    EXPECT_EQ(OSCCodec::encode("/x", std::string_view("abcd")).size(), 4u + 4u + 8u);
    // An address that is not UTF-8 encodes to nothing.
    EXPECT_TRUE(OSCCodec::encode("/bad\xff", 1.0f).empty());
    EXPECT_TRUE(OSCCodec::encode("/bad\xc0\xaf", std::string_view("x")).empty()); // overlong "/"
    EXPECT_TRUE(OSCCodec::encode("/bad\xed\xa0\x80", 1.0f).empty());              // surrogate
    EXPECT_FALSE(OSCCodec::encode("/caf\xc3\xa9", 1.0f).empty());
}

// Catches an integer not scaled by 127, a later "f" tag making the first argument's bytes read
// as a float (",if 1 0.25" once gave 1e-45), and every malformed shape that must be dropped.
TEST(OSCCodecTest, DecodesOneNumericFirstArgumentAndDropsTheRest) {
    const uint32_t quarter = 0x3e800000; // 0.25f
    auto two = [&](const char* tags, uint32_t first) {
        Bytes bytes = intMessage("/x", static_cast<int32_t>(first), tags);
        test::appendBigEndian(bytes, quarter);
        return bytes;
    };
    struct Case {
        const char* shape;
        Bytes bytes;
        std::optional<float> value;
    };
    const Case cases[] = {
        {"float", OSCCodec::encode("/x", 0.25f), 0.25f},
        {"integer 64", intMessage("/x", 64), 64.0f / 127.0f},
        {"integer -127", intMessage("/x", -127), -1.0f},
        {",if", two(",if", 127), 1.0f},
        {",fi", two(",fi", quarter), 0.25f},
        {",sf", two(",sf", 0x61626364), std::nullopt},
        {",Tf", two(",Tf", 0), std::nullopt},
        {",bf", two(",bf", 4), std::nullopt},
        {"empty", Bytes{}, std::nullopt},
        {"no terminator", Bytes{'/', 'x'}, std::nullopt},
        {"no type tags", Bytes{'/', 'x', 0, 0}, std::nullopt},
        {"tags unterminated", Bytes{'/', 'x', 0, 0, ',', 'f', 'f', 'f'}, std::nullopt},
        {"address without /", intMessage("x/no/slash", 1), std::nullopt},
        {"tags without ,", intMessage("/x", 1, "i"), std::nullopt},
        {"string argument", intMessage("/x", 1, ",s"), std::nullopt},
        {"no argument tag", intMessage("/x", 1, ","), std::nullopt},
        {"bundle", intMessage("#bundle", 1), std::nullopt},
        {"tags not UTF-8", intMessage("/x", 1, ",i\xff"), std::nullopt},
        {"address not UTF-8", intMessage("/\xc3", 1), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shape);
        const auto message = decode(c.bytes);
        ASSERT_EQ(message.has_value(), c.value.has_value());
        if (!c.value) continue;
        EXPECT_EQ(message->address, "/x");
        EXPECT_FLOAT_EQ(message->value, *c.value);
    }
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

// The one home of value limiting: NaN and infinities from a hostile sender included.
TEST(OSCCodecTest, ClampLimitsToTheUnitRange) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float> cases[] = {{1.7f, 1.0f}, {-0.2f, 0.0f}, {0.3f, 0.3f},
                                             {nan, 1.0f},  {inf, 1.0f},   {-inf, 0.0f}};
    for (const auto& [in, out] : cases) EXPECT_EQ(OSCCodec::clampValue(in), out) << in;
}

} // namespace
} // namespace orevant
