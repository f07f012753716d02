// The operator paths on a running container with real TLS: health (also with the database
// closed or frozen), a Prometheus scrape checked by promtool, the metrics' address check, and
// the OpenAPI description, which must name exactly the published methods and providers.
#include "RawTlsClient.h"
#include "DemoEndpointFixture.h"

#include "client/transport/HttpsClient.h"
#include "methods/PublishedMethods.h"
#include "server/RemoteEndpoint.h"
#include "server/operations/OpenApiDocument.h"
#include "types/RecordFields.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <QFile>
#include <QProcess>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

namespace krp::test {
namespace {

using Clock = std::chrono::steady_clock;

class OperationsEndpointTest : public DemoEndpointTest {
protected:
    client::HttpsClientResponse get(const std::string& target)
    {
        client::HttpsClientOptions o;
        o.port = container->listeningPort();
        client::HttpsClient http(o);
        return http.request("GET", target);
    }

    // The value of one sample line ("name{labels} value") of a scrape; -1 when absent.
    static double sample(const std::string& scrape, const std::string& series)
    {
        std::istringstream lines(scrape);
        for (std::string line; std::getline(lines, line);) {
            if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 &&
                line[series.size()] == ' ')
                return std::stod(line.substr(series.size() + 1));
        }
        return -1;
    }
};

TEST_P(OperationsEndpointTest, HealthIsOkWhileTheDatabaseAnswersAndUnavailableWhenItIsClosed)
{
    const auto ok = get("/api/v1/health");
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, R"({"status":"ok"})");
    EXPECT_EQ(ok.header("Content-Type"), "application/json");

    EndpointFixture::database.close();
    const auto down = get("/api/v1/health");
    EXPECT_EQ(down.status, 503);
    EXPECT_EQ(down.body, R"({"status":"unavailable","reason":"the database connection is not open"})");
    EXPECT_FALSE(down.header("Retry-After").empty());
}

TEST_P(OperationsEndpointTest, HealthAnswersWithinItsDeadlineWhileTheDatabaseServerIsFrozen)
{
    if (GetParam() != Backend::MariaDb)
        GTEST_SKIP() << "freezing needs a database server process";
    // The server process behind this connection, from its pid file.
    db::Query q(EndpointFixture::database);
    q.addLine(QStringLiteral("SELECT @@pid_file AS F"));
    q.open();
    QFile pidFile(q.fieldByName(QStringLiteral("F")).asText());
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly)) << pidFile.fileName().toStdString();
    const pid_t pid = static_cast<pid_t>(pidFile.readAll().trimmed().toLong());
    ASSERT_GT(pid, 1);

    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    struct Resume {
        pid_t pid;
        ~Resume() { ::kill(pid, SIGCONT); }
    } resume{pid};
    const auto started = Clock::now();
    const auto frozen = get("/api/v1/health");
    const auto waited = Clock::now() - started;
    ::kill(pid, SIGCONT);

    EXPECT_EQ(frozen.status, 503);
    EXPECT_NE(frozen.body.find("did not answer within 2 s"), std::string::npos) << frozen.body;
    EXPECT_LT(waited, std::chrono::seconds(3));  // the 2 s deadline, not the frozen statement

    // Thawed, the database answers again.
    int status = 0;
    for (int attempt = 0; attempt < 20 && status != 200; ++attempt)
        status = get("/api/v1/health").status;
    EXPECT_EQ(status, 200);
}

TEST_P(OperationsEndpointTest, ScrapeCountsCallsSessionsAndStatementsAndPassesPromtool)
{
    const std::string before = get("/metrics").body;
    client::KrpClient c(clientOptions());
    c.openSession(demoClient("VARASTO", "Hylly42"));
    c.call("Ping", R"(["Kairanet", "pda-7"])");
    EXPECT_THROW(c.call("Ping", R"(["only one"])"), client::KrpError);
    EXPECT_THROW(c.call("EiOle", "[]"), client::KrpError);
    {
        client::HttpsClientOptions o;
        o.port = container->listeningPort();
        client::HttpsClient http(o);
        EXPECT_EQ(http.request("POST", "/api/v1/session", "{}", {{"Authorization", "Basic eDp5"}}).status, 401);
    }

    {
        // A body over the limit is answered by the transport itself, and counted.
        RawTlsClient raw(container->listeningPort());
        ASSERT_TRUE(raw.handshake());
        ASSERT_TRUE(raw.send("POST /api/v1/methods/Ping HTTP/1.1\r\nHost: x\r\nContent-Length: 17000000\r\n\r\n"));
        EXPECT_EQ(statusOf(raw.readHead()), 413);
    }

    ASSERT_GE(waitForLog(QStringLiteral("OnUserAuthenticate: OK")), 0);  // log lines reach the log
    const auto scraped = get("/metrics");
    ASSERT_EQ(scraped.status, 200);
    EXPECT_EQ(scraped.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    const std::string& after = scraped.body;

    const auto delta = [&](const std::string& series) {
        return sample(after, series) - std::max(0.0, sample(before, series));
    };
    EXPECT_EQ(delta(R"m(krpalvelin_method_calls_total{method="Ping",outcome="ok"})m"), 1);
    EXPECT_EQ(delta(R"m(krpalvelin_method_calls_total{method="Ping",outcome="bad_arguments"})m"), 1);
    EXPECT_EQ(delta(R"m(krpalvelin_method_calls_total{method="(other)",outcome="unknown_method"})m"), 1);
    EXPECT_EQ(delta(R"m(krpalvelin_method_call_duration_seconds_count{method="Ping"})m"), 2);
    EXPECT_EQ(sample(after, R"m(krpalvelin_method_call_duration_seconds_bucket{method="Ping",le="+Inf"})m"),
              sample(after, R"m(krpalvelin_method_call_duration_seconds_count{method="Ping"})m"));
    EXPECT_EQ(delta("krpalvelin_sessions_opened_total"), 1);
    EXPECT_EQ(delta(R"m(krpalvelin_sessions_refused_total{reason="credentials"})m"), 1);
    EXPECT_EQ(delta(R"m(krpalvelin_requests_refused_total{reason="body_too_large"})m"), 1);
    // Bucket bounds in their shortest form.
    EXPECT_NE(after.find(R"m(method="Ping",le="0.0025"})m"), std::string::npos);
    EXPECT_EQ(after.find("0.0025000"), std::string::npos);
    EXPECT_EQ(sample(after, "krpalvelin_sessions_open"), 1);
    EXPECT_GE(sample(after, "krpalvelin_connections_open"), 1);
    EXPECT_GE(delta("krpalvelin_database_statements_total"), 2);  // the connect event's two checks
    EXPECT_EQ(sample(after, "krpalvelin_database_up"), 1);
    EXPECT_GE(sample(after, "krpalvelin_database_pool_connections"), 1);
    EXPECT_GT(delta("krpalvelin_event_log_lines_total"), 0);

    // Prometheus' own checker reads the scrape as Prometheus would.
    const QString file = dir.filePath(QStringLiteral("scrape.txt"));
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(after.data(), static_cast<qint64>(after.size()));
    out.close();
    QProcess promtool;
    promtool.setStandardInputFile(file);
    promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
    ASSERT_TRUE(promtool.waitForFinished(60000)) << "promtool (package prometheus) did not run";
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAllStandardOutput().toStdString()
                                      << promtool.readAllStandardError().toStdString();
}

TEST_P(OperationsEndpointTest, MetricsAreReadFromLoopbackOrListedAddressesOnly)
{
    OperationsEndpoint endpoint(container->sessions(), context);
    endpoint.setMetricsReaders(addressList("192.0.2.10, 2001:db8::7"));
    struct Case {
        const char* address;
        int status;
    };
    for (const Case& c :
         {Case{"127.0.0.1", 200}, Case{"127.0.0.3", 200}, Case{"::1", 200}, Case{"::ffff:127.0.0.1", 200},
          Case{"192.0.2.10", 200}, Case{"::ffff:192.0.2.10", 200}, Case{"2001:db8::7", 200}, Case{"192.0.2.11", 403},
          Case{"10.0.0.1", 403}, Case{"2001:db8::8", 403}}) {
        transport::HttpRequest r;
        r.method = "GET";
        r.target = "/metrics";
        r.remoteAddress = c.address;
        EXPECT_EQ(endpoint.handle(r, routeOf(r.target)).status, c.status) << c.address;
    }
}

TEST_P(OperationsEndpointTest, OperatorPathsNeedNoCredentialsAndOnlyGet)
{
    const auto description = get("/api/v1/openapi.json");
    EXPECT_EQ(description.status, 200);
    EXPECT_EQ(description.body, std::string(openApiJson()));

    client::HttpsClientOptions o;
    o.port = container->listeningPort();
    client::HttpsClient http(o);
    for (const char* path : {"/api/v1/health", "/metrics", "/api/v1/openapi.json"})
        EXPECT_EQ(http.request("POST", path, "{}").status, 405) << path;
}

KRP_INSTANTIATE_ON_BACKENDS(OperationsEndpointTest);

// The description names exactly what the server publishes: every method with its arguments'
// count and JSON types, and every provider.
TEST(OpenApiDescription, NamesExactlyThePublishedMethodsAndProviders)
{
    rapidjson::Document doc;
    doc.Parse(openApiJson().data(), openApiJson().size());
    ASSERT_FALSE(doc.HasParseError());
    ASSERT_STREQ(doc["openapi"].GetString(), "3.1.0");

    const std::string prefix = "/api/v1/methods/";
    std::set<std::string> described;
    for (auto it = doc["paths"].MemberBegin(); it != doc["paths"].MemberEnd(); ++it) {
        const std::string path = it->name.GetString();
        if (path.rfind(prefix, 0) == 0)
            described.insert(path.substr(prefix.size()));
    }
    std::set<std::string> published;
    for (const protocol::MethodInfo& m : publishedMethods().methods())
        published.insert(m.name);
    EXPECT_EQ(described, published);

    const std::map<std::string, std::string> jsonType = {
        {"text", "string"}, {"integer", "integer"}, {"integer in/out", "integer"}, {"boolean", "boolean"}};
    for (const protocol::MethodInfo& m : publishedMethods().methods()) {
        const std::string path = prefix + m.name;
        if (!doc["paths"].HasMember(path.c_str()))
            continue;
        const auto& schema = doc["paths"][path.c_str()]["post"]["requestBody"]["content"]["application/json"]["schema"];
        const auto& items = schema["prefixItems"];
        ASSERT_EQ(items.Size(), m.parameters.size()) << m.name;
        EXPECT_EQ(schema["minItems"].GetUint(), m.parameters.size()) << m.name;
        EXPECT_EQ(schema["maxItems"].GetUint(), m.parameters.size()) << m.name;
        for (std::size_t i = 0; i < m.parameters.size(); ++i) {
            const auto& item = items[static_cast<rapidjson::SizeType>(i)];
            EXPECT_STREQ(item["title"].GetString(), m.parameters[i].name.c_str()) << m.name;
            const auto type = jsonType.find(m.parameters[i].type);
            if (type != jsonType.end()) {
                ASSERT_TRUE(item.HasMember("type")) << m.name << " " << m.parameters[i].name;
                EXPECT_EQ(item["type"].GetString(), type->second) << m.name << " " << m.parameters[i].name;
            } else {  // a record or a list: its object or null
                EXPECT_TRUE(item.HasMember("anyOf")) << m.name << " " << m.parameters[i].name;
            }
        }
    }

    const auto& enumeration = doc["paths"]["/api/v1/providers/{provider}"]["get"]["parameters"][0]["schema"]["enum"];
    std::vector<std::string> providers;
    for (const auto& p : enumeration.GetArray())
        providers.emplace_back(p.GetString());
    EXPECT_EQ(providers, TServerMethods1::providerNames());
}

// Every record class's fields, in order and with their JSON type, as the record reader knows
// them.
TEST(OpenApiDescription, RecordSchemasHoldTheFieldsOfTheRecordClasses)
{
    rapidjson::Document doc;
    doc.Parse(openApiJson().data(), openApiJson().size());
    ASSERT_FALSE(doc.HasParseError());
    const auto& schemas = doc["components"]["schemas"];
    const auto check = [&](const char* name, const auto& fields) {
        const std::string key = std::string(name) + "Fields";
        ASSERT_TRUE(schemas.HasMember(key.c_str())) << key;
        std::vector<std::pair<std::string, std::string>> described;
        for (auto it = schemas[key.c_str()]["properties"].MemberBegin();
             it != schemas[key.c_str()]["properties"].MemberEnd(); ++it)
            described.emplace_back(it->name.GetString(), it->value["type"].GetString());
        std::vector<std::pair<std::string, std::string>> known;
        for (const auto& f : fields) {
            // QString, int8, int16, int32, double (also the date-time numbers)
            static const char* const types[] = {"string", "integer", "integer", "integer", "number"};
            known.emplace_back(f.name, types[f.member.index()]);
        }
        EXPECT_EQ(described, known) << name;
        const std::string type = std::string("UTyypit.") + name;
        EXPECT_EQ(schemas[name]["properties"]["type"]["const"].GetString(), type);
    };
#define KRP_CHECK_RECORD(R) \
    check(types::detail::RecordClass<types::R>::name, types::detail::RecordClass<types::R>::fields);
    KRP_FOR_EACH_RECORD_CLASS(KRP_CHECK_RECORD)
#undef KRP_CHECK_RECORD
}

}  // namespace
}  // namespace krp::test
