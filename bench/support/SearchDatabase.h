#pragma once
// The database of the search benchmark: the demo database (schema, catalogue, data of db/)
// in a SQLite file or in MariaDB, plus 100,000 products, each with a stock row, 30,000 of them with an open purchase-order
// line, and the benchmark's account (BenchAccount) for the gates.
#include <filesystem>
#include <functional>
#include <string>

namespace krp::bench {

struct SearchCodes {
    std::string ean;       // the EAN code of a product with an open order line: phase 1 finds it
    std::string typeCode;  // a product type code: phases 1 and 2 find nothing, phase 3 finds rows
    int typeCodeRows = 0;  // rows the type-code search finds
};

// The codes the searches use, checked with `count` (the first column of a query's first row)
// against the rows the database should hold; throws when they are not there.
SearchCodes checkedSearchCodes(const std::function<int(const std::string&)>& count);

// Builds `file` (replacing it) from the SQL files in `sqlDirectory` (db/ of the source tree):
// the demo database with the benchmark's account, without the search's products.
void createDemoDatabase(const std::filesystem::path& file, const std::filesystem::path& sqlDirectory);

// The same with the search's products, stock rows and order lines.
SearchCodes createSearchDatabase(const std::filesystem::path& file, const std::filesystem::path& sqlDirectory);

// The same products, stock rows, order lines and account in the MariaDB database that
// `connectionString` reaches (one that scripts/start-mariadb made: schema and demo data in
// place); the benchmark's earlier rows are replaced. Statistics are refreshed afterwards.
SearchCodes fillOdbcSearchDatabase(const std::string& connectionString);

}  // namespace krp::bench
