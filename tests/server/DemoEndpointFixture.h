#pragma once
// The running container of EndpointFixture on a fresh copy of the demo ERP database
// (db/demo-data.sql), once on SQLite and once on MariaDB (skipped without KRP_TEST_ODBC). The
// test reads and changes the same database through demo().
#include "EndpointFixture.h"

#include "support/TestDatabases.h"

#include <memory>
#include <string>

namespace krp::test {

// Holds the demo database for as long as the fixture's server uses it. Without a MariaDB
// server the MariaDB variant still gets a database to start on; its test is skipped.
struct DemoDatabase {
    explicit DemoDatabase(Backend backend)
        : database(backend == Backend::Sqlite || mariaDbConfigured()
                       ? std::make_unique<TestDatabase>(backend, Content::DemoData)
                       : std::make_unique<TestDatabase>(Backend::Sqlite, Content::DemoData))
    {
    }
    std::unique_ptr<TestDatabase> database;
};

class DemoEndpointTest : private DemoDatabase, public EndpointFixture, public ::testing::WithParamInterface<Backend> {
protected:
    DemoEndpointTest() : DemoDatabase(GetParam()), EndpointFixture(DemoDatabase::database->settings()) {}

    void SetUp() override
    {
        if (GetParam() == Backend::MariaDb && !mariaDbConfigured())
            GTEST_SKIP() << mariaDbSkipMessage();
    }

    // The demo's access code with an ERP user of the demo.
    static client::ConnectProperties demoClient(const std::string& user, const std::string& password)
    {
        return {"Kairanet", "Kx7-Ruoste-Tunturi-2026", user, password};
    }

    TestDatabase& demo() { return *DemoDatabase::database; }
};

}  // namespace krp::test
