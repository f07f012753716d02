#include "server/operations/HealthCheck.h"

#include "db/Database.h"
#include "db/Query.h"

namespace krp {

namespace {

// A statement every database of the program answers without touching the ERP's tables
// (solidDB's catalogue view TABLES is there from the start).
QString trivialStatement(const db::ConnectionSettings& settings)
{
    if (settings.kind == db::ConnectionSettings::Kind::SolidOdbc)
        return QStringLiteral("SELECT COUNT(*) FROM TABLES WHERE 1=0");
    return QStringLiteral("SELECT 1");
}

std::string probe(db::Database* database)
{
    try {
        db::Query q(*database);
        q.addLine(trivialStatement(database->settings()));
        q.open();
        return {};
    } catch (const std::exception& e) {
        return std::string("the database answered with an error: ") + e.what();
    }
}

}  // namespace

HealthStatus HealthCheck::check(db::Database* database)
{
    if (!database || !database->isOpen())
        return {false, "the database connection is not open"};
    std::shared_future<std::string> running;
    {
        std::lock_guard lock(mutex_);
        const bool idle = !probe_.valid() || probe_.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
        if (idle)
            probe_ = std::async(std::launch::async, probe, database).share();
        running = probe_;
    }
    if (running.wait_for(deadline_) != std::future_status::ready) {
        const auto seconds = std::chrono::duration<double>(deadline_).count();
        return {false, "the database did not answer within " + QString::number(seconds).toStdString() + " s"};
    }
    const std::string failure = running.get();
    return {failure.empty(), failure};
}

}  // namespace krp
