#pragma once
// The table object through which a client receives the rows of a query:
// {"columns":[{"name":"TP_TUOTEKOODI","type":"text"},...],"rows":[["ABC-1",12.5],...]}
// Columns and rows keep the statement's order. NULL is null; a date-time is the naive local
// "YYYY-MM-DDTHH:MM:SS" (milliseconds dropped); binary is base64; a float takes at most 15
// significant digits (NaN and infinities, which JSON cannot carry, are written as null); a
// boolean column gives true/false.
#include "db/Query.h"
#include "types/RecordJson.h"

#include <string>

namespace krp::protocol {

// Name of a column type in the table object: "text", "integer", "float", "datetime",
// "boolean" or "binary".
const char* columnTypeName(db::ColumnType type);

void writeTable(types::JsonWriter& writer, const db::ResultSet& rows);
// The rows of the query as its last open left them; a query that is not open gives the
// empty table {"columns":[],"rows":[]}.
void writeQueryTable(types::JsonWriter& writer, const db::Query& query);

std::string tableJson(const db::ResultSet& rows);
std::string queryTableJson(const db::Query& query);  // the answer for a provider

}  // namespace krp::protocol
