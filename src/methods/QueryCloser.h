#pragma once
// Closes a query when the scope ends, normally or by an error: methods that read a general
// query leave it closed whatever happens while they read.
#include "db/Query.h"

namespace krp {

class QueryCloser {
public:
    explicit QueryCloser(db::Query& query) : query_(query) {}
    ~QueryCloser()
    {
        try {
            query_.close();
        } catch (...) {
            // closing only forgets rows; nothing to report from a destructor
        }
    }
    QueryCloser(const QueryCloser&) = delete;
    QueryCloser& operator=(const QueryCloser&) = delete;

private:
    db::Query& query_;
};

}  // namespace krp
