#pragma once
// The methods of TServerMethods1 that clients call, by name, with their parameter names.
#include "methods/ServerMethodsUnit1.h"
#include "protocol/MethodRegistry.h"

namespace krp {

// Built on first use; afterwards only read, from any thread.
const protocol::MethodRegistry<TServerMethods1>& publishedMethods();

// Whether the published method `method` may change the database (false for an unknown name).
bool publishedMethodWrites(std::string_view method);

}  // namespace krp
