#include "InProcessSearch.h"
#include "RepeatOnThreads.h"
#include "SearchPhases.h"

#include "db/SqliteFileAccess.h"

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace krp::bench {

namespace {

class Searcher {
public:
    Searcher(const std::filesystem::path& database, bool preparedOnce, bool memoryMapped) : preparedOnce_(preparedOnce)
    {
        if (sqlite3_open_v2(database.string().c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK)
            throw std::runtime_error("in-process search: cannot open " + database.string());
        // Two readers opening at once may find the other building the shared index: wait.
        sqlite3_busy_timeout(db_, 5000);
        if (memoryMapped)
            sqlite3_exec(db_, db::kSqliteMemoryMapPragma, nullptr, nullptr, nullptr);
        for (int phase = 0; phase < 3; ++phase)
            sql_[phase] = searchPhaseSql(phase, ":tn", ":koodi");
        if (preparedOnce_)
            for (int phase = 0; phase < 3; ++phase)
                statements_[phase] = prepare(phase);
    }
    ~Searcher()
    {
        for (sqlite3_stmt* st : statements_)
            sqlite3_finalize(st);
        sqlite3_close(db_);
    }

    // Phases in order until one finds rows; the number of rows found.
    std::size_t search(const std::string& code)
    {
        for (int phase = 0; phase < 3; ++phase) {
            const std::size_t rows = runPhase(phase, code);
            if (rows > 0)
                return rows;
        }
        return 0;
    }

private:
    sqlite3_stmt* prepare(int phase)
    {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql_[phase].c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("in-process search: ") + sqlite3_errmsg(db_));
        return st;
    }

    std::size_t runPhase(int phase, const std::string& code)
    {
        sqlite3_stmt* st = preparedOnce_ ? statements_[phase] : prepare(phase);
        sqlite3_bind_int(st, sqlite3_bind_parameter_index(st, ":tn"), 0);
        sqlite3_bind_text(st, sqlite3_bind_parameter_index(st, ":koodi"), code.data(), static_cast<int>(code.size()),
                          SQLITE_STATIC);
        std::size_t rows = 0;
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < 5; ++c) {
                const unsigned char* text = sqlite3_column_text(st, c);
                if (text)
                    row_[c].assign(reinterpret_cast<const char*>(text),
                                   static_cast<std::size_t>(sqlite3_column_bytes(st, c)));
                else
                    row_[c].clear();
            }
        }
        if (rc != SQLITE_DONE)
            throw std::runtime_error(std::string("in-process search: ") + sqlite3_errmsg(db_));
        if (preparedOnce_)
            sqlite3_reset(st);
        else
            sqlite3_finalize(st);
        return rows;
    }

    sqlite3* db_ = nullptr;
    bool preparedOnce_;
    std::string sql_[3];
    sqlite3_stmt* statements_[3] = {nullptr, nullptr, nullptr};
    std::string row_[5];
};

}  // namespace

InProcessResult runInProcessSearch(const std::filesystem::path& database, const std::string& code, unsigned threads,
                                   bool preparedOnce, bool memoryMapped, std::chrono::milliseconds duration)
{
    const double rate = repeatOnThreads<std::unique_ptr<Searcher>>(
        threads, duration, [&](unsigned) { return std::make_unique<Searcher>(database, preparedOnce, memoryMapped); },
        [&](Searcher& searcher, unsigned, std::uint64_t) {
            if (searcher.search(code) == 0)
                throw std::runtime_error("in-process search found nothing for " + code);
        });
    return {rate, threads, preparedOnce, memoryMapped};
}

}  // namespace krp::bench
