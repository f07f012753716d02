// Decoding limits and faults of the content codings, without the network.
#include "shared/ContentCoding.h"

#include <gtest/gtest.h>

namespace krp::transport {
namespace {

TEST(ContentCodingTest, RoundTripsBothCodingsIncludingEmptyAndBinaryBodies)
{
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>(i * 7919 % 256);
    for (const auto coding : {ContentCoding::Deflate, ContentCoding::Gzip})
        for (const std::string& body : {std::string(), std::string("{}"), binary}) {
            const auto decoded = decompress(compress(body, coding), coding, 1 << 20);
            ASSERT_EQ(decoded.status, DecodeStatus::Ok);
            EXPECT_EQ(decoded.data, body);
        }
}

TEST(ContentCodingTest, OutputLimitIsExactAndStopsABomb)
{
    const std::string body(100'000, 'x');
    for (const auto coding : {ContentCoding::Deflate, ContentCoding::Gzip}) {
        const auto packed = compress(body, coding);
        EXPECT_EQ(decompress(packed, coding, body.size()).status, DecodeStatus::Ok);
        EXPECT_EQ(decompress(packed, coding, body.size() - 1).status, DecodeStatus::TooLarge);
    }
    const auto bomb = compress(std::string(64 * 1024 * 1024, '\0'), ContentCoding::Deflate);
    EXPECT_LT(bomb.size(), 100'000u);
    EXPECT_EQ(decompress(bomb, ContentCoding::Deflate, 16 * 1024 * 1024).status, DecodeStatus::TooLarge);
    EXPECT_EQ(decompress(std::string(11, 'x'), ContentCoding::Identity, 10).status, DecodeStatus::TooLarge);
}

TEST(ContentCodingTest, ConcatenatedGzipMembersAreOneBody)
{
    const auto packed = compress("[1,", ContentCoding::Gzip) + compress("2]", ContentCoding::Gzip);
    const auto decoded = decompress(packed, ContentCoding::Gzip, 100);
    ASSERT_EQ(decoded.status, DecodeStatus::Ok);
    EXPECT_EQ(decoded.data, "[1,2]");
}

TEST(ContentCodingTest, ContentEncodingNames)
{
    EXPECT_EQ(parseContentEncoding(""), ContentCoding::Identity);
    EXPECT_EQ(parseContentEncoding(" gzip "), ContentCoding::Gzip);
    EXPECT_EQ(parseContentEncoding("X-GZIP"), ContentCoding::Gzip);
    EXPECT_EQ(parseContentEncoding("deflate"), ContentCoding::Deflate);
    EXPECT_EQ(parseContentEncoding("compress"), std::nullopt);
    EXPECT_EQ(parseContentEncoding("deflate, gzip"), std::nullopt);
}

}  // namespace
}  // namespace krp::transport
