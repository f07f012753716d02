// Starting the HTTPS server fails with a message that tells the operator what to fix, and leaves
// the server stopped and ready for another start.
#include "TestCertificate.h"

#include "client/transport/HttpsClient.h"
#include "server/transport/HttpsServer.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace krp::test {
namespace {

using transport::HttpResponse;
using transport::HttpsServer;
using transport::HttpsServerOptions;

class HttpsStartTest : public ::testing::Test {
protected:
    HttpsServerOptions goodOptions() const
    {
        HttpsServerOptions options;
        options.address = "127.0.0.1";
        options.port = 0;
        options.certificateFile = certificate.certificateFile();
        options.keyFile = certificate.keyFile();
        return options;
    }

    // The message of the failed start; fails the test when start succeeds.
    std::string startFailure(HttpsServer& server, const HttpsServerOptions& options)
    {
        try {
            server.start(options);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        ADD_FAILURE() << "start succeeded";
        return {};
    }

    TestCertificate certificate;
};

HttpResponse ok(const transport::HttpRequest&)
{
    return HttpResponse::json(200, "{}");
}

TEST_F(HttpsStartTest, BadCertificateOrKeyFilesAreNamedAndTheServerStartsLater)
{
    const auto missing = (certificate.directory() / "puuttuu.pem").string();
    const auto notPem = certificate.writeFile("roska.pem", "tämä ei ole varmenne\n");
    const auto foreignKey = certificate.writeForeignKey("vieras.key");
    const auto directory = certificate.directory().string();

    struct Case {
        const char* name;
        std::string certificateFile;
        std::string keyFile;
        std::string mustMention;  // the path at fault
        std::string mustSay;
    };
    const Case cases[] = {
        {"missing certificate", missing, certificate.keyFile(), missing, "ei löydy"},
        {"missing key", certificate.certificateFile(), missing, missing, "ei löydy"},
        {"empty certificate name", "", certificate.keyFile(), "", "Varmennetiedoston nimeä"},
        {"certificate is a directory", directory, certificate.keyFile(), directory, "hakemisto"},
        {"certificate not PEM", notPem, certificate.keyFile(), notPem, "ei kelpaa"},
        {"key not PEM", certificate.certificateFile(), notPem, notPem, "ei kelpaa"},
        {"key of another certificate", certificate.certificateFile(), foreignKey, foreignKey, "ei kuulu varmenteeseen"},
    };

    HttpsServer server(&ok);
    for (const auto& c : cases) {
        auto options = goodOptions();
        options.certificateFile = c.certificateFile;
        options.keyFile = c.keyFile;
        const auto message = startFailure(server, options);
        EXPECT_NE(message.find(c.mustMention), std::string::npos) << c.name << ": " << message;
        EXPECT_NE(message.find(c.mustSay), std::string::npos) << c.name << ": " << message;
        EXPECT_FALSE(server.isStarted()) << c.name;
    }

    server.start(goodOptions());
    EXPECT_TRUE(server.isStarted());
}

TEST_F(HttpsStartTest, PortInUseIsReportedAndTheServerStartsOnceItIsFree)
{
    HttpsServer first(&ok);
    first.start(goodOptions());
    const auto port = first.port();

    HttpsServer second(&ok);
    auto options = goodOptions();
    options.port = port;
    const auto message = startFailure(second, options);
    EXPECT_NE(message.find(std::to_string(port)), std::string::npos) << message;
    EXPECT_NE(message.find("jo toisen ohjelman käytössä"), std::string::npos) << message;
    EXPECT_FALSE(second.isStarted());

    first.stop();
    second.start(options);
    client::HttpsClientOptions clientOptions;
    clientOptions.port = port;
    client::HttpsClient client(clientOptions);
    EXPECT_EQ(client.request("GET", "/").status, 200);
}

TEST_F(HttpsStartTest, BadListenAddressIsReported)
{
    HttpsServer server(&ok);
    auto options = goodOptions();
    options.address = "not-an-address";
    const auto message = startFailure(server, options);
    EXPECT_NE(message.find("not-an-address"), std::string::npos) << message;
    EXPECT_FALSE(server.isStarted());
}

}  // namespace
}  // namespace krp::test
