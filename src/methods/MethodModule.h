#pragma once
// The method module as the endpoint sees it, without naming its class: a module for each new
// session, its published methods (name, parameters, effect, whether it waits for the database)
// and its providers. The published methods of TServerMethods1 are one such module
// (publishedModule()); tests put modules of their own in front of it.
#include "methods/ServiceContext.h"
#include "protocol/MethodRegistry.h"

#include <memory>
#include <string_view>
#include <vector>

namespace krp::db {
class Query;
}

namespace krp {

// One session's module: it keeps its queries' rows from one call of the session to the next.
class SessionModule {
public:
    virtual ~SessionModule() = default;
    // Calls the published method `method` with the JSON arguments `body` (400, 404 and 500 as
    // protocol::MethodRegistry answers them).
    virtual protocol::CallResult call(std::string_view method, std::string_view body,
                                      const protocol::MethodErrorHandler& onError) = 0;
    // The query the named provider serves; nullptr for a name that is no provider.
    virtual db::Query* provider(std::string_view name) = 0;
};

class MethodModule {
public:
    virtual ~MethodModule() = default;
    // A fresh module for a new session, on the service's database.
    virtual std::shared_ptr<SessionModule> create(ServiceContext& service) const = 0;
    // The published method of that name; nullptr for none.
    virtual const protocol::MethodInfo* find(std::string_view method) const = 0;
    // Every published method, in the order of the table.
    virtual const std::vector<protocol::MethodInfo>& methods() const = 0;
};

}  // namespace krp
