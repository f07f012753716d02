#pragma once
// The column list a client may hand to Tuotetiedot. The list becomes part of the statement
// text, so only plain column references pass: names, optionally table-qualified, "*" or
// "TABLE.*", separated by commas, with blanks allowed around the separators. Anything else
// (expressions, keywords after a name, comments, quotes, semicolons) is refused before the
// statement is built.
#include <QString>

namespace krp {

bool isColumnList(const QString& text);

}  // namespace krp
