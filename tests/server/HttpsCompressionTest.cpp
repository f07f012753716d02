// Compression over the wire: response bodies over 1024 bytes in the coding the client accepts,
// compressed request bodies decoded before the handler sees them.
#include "ServerFixture.h"

namespace krp::test {
namespace {

using client::HttpsClient;
using transport::ContentCoding;

class HttpsCompressionTest : public ServerFixture {};

TEST_F(HttpsCompressionTest, ResponseBodyIsCompressedOnlyAboveTheThresholdAndAsAccepted)
{
    struct Case {
        std::size_t size;
        std::string acceptEncoding;
        std::string expected;  // Content-Encoding of the answer
    };
    const Case cases[] = {
        {1024, "deflate, gzip", ""},
        {1025, "deflate, gzip", "deflate"},
        {1025, "gzip, deflate", "deflate"},
        {1025, "gzip", "gzip"},
        {1025, "x-gzip", "gzip"},
        {1025, "deflate", "deflate"},
        {1025, "", ""},
        {1025, "identity", ""},
        {1025, "br", ""},
        {1025, "deflate;q=0, gzip", "gzip"},
        {1025, "DEFLATE;Q=0.5", "deflate"},
        {1025, "gzip;q=0, deflate;q=0", ""},
        {1025, "*", "deflate"},
        {1025, "*;q=0, gzip", "gzip"},
        {1025, "deflate;q=nonsense, gzip", "gzip"},
        {200000, "gzip", "gzip"},
    };
    for (const auto& c : cases) {
        auto options = clientOptions();
        options.acceptEncoding = c.acceptEncoding;
        HttpsClient client(options);
        const auto response = client.request("GET", "/size/" + std::to_string(c.size));
        const auto label = std::to_string(c.size) + " \"" + c.acceptEncoding + "\"";
        ASSERT_EQ(response.status, 200) << label;
        EXPECT_EQ(response.body, jsonOfSize(c.size)) << label;
        EXPECT_EQ(response.contentEncoding, c.expected) << label;
        if (c.expected.empty()) {
            EXPECT_EQ(response.wireBodySize, c.size) << label;
        } else {
            EXPECT_LT(response.wireBodySize, c.size) << label;
            EXPECT_EQ(response.header("Vary"), "Accept-Encoding") << label;
        }
    }
}

TEST_F(HttpsCompressionTest, CompressedRequestBodiesReachTheHandlerDecoded)
{
    const std::string body = jsonOfSize(50'000);
    for (const auto coding : {ContentCoding::Deflate, ContentCoding::Gzip}) {
        auto options = clientOptions();
        options.requestCoding = coding;
        options.acceptEncoding.clear();
        HttpsClient client(options);
        const auto response = client.request("POST", "/echo", body);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.body, body);
    }
}

TEST_F(HttpsCompressionTest, BodyThatDoesNotDecodeIs400AndUnknownCodingIs415)
{
    const std::string body = jsonOfSize(2000);
    const auto deflated = transport::compress(body, ContentCoding::Deflate);
    const auto gzipped = transport::compress(body, ContentCoding::Gzip);
    struct Case {
        std::string contentEncoding;
        std::string body;
        int status;
    };
    const Case cases[] = {
        {"deflate", body, 400},                                     // not compressed at all
        {"gzip", deflated, 400},                                    // the other coding
        {"deflate", deflated.substr(0, deflated.size() / 2), 400},  // cut short
        {"deflate", deflated + "x", 400},                           // trailing bytes
        {"gzip", gzipped.substr(0, gzipped.size() - 4), 400},       // trailer missing
        {"br", body, 415},
        {"gzip, deflate", body, 415},
        {"Deflate", deflated, 200},
        {"identity", body, 200},
    };
    HttpsClient client(clientOptions());
    for (const auto& c : cases) {
        const auto response = client.request("POST", "/echo", c.body, {{"Content-Encoding", c.contentEncoding}});
        EXPECT_EQ(response.status, c.status) << c.contentEncoding;
        if (c.status == 200)
            EXPECT_EQ(response.body, body);
        else
            EXPECT_EQ(response.body.rfind("{\"error\": ", 0), 0u) << response.body;
    }
    EXPECT_EQ(client.request("POST", "/echo", "{}").status, 200) << "the server still serves";
}

}  // namespace
}  // namespace krp::test
