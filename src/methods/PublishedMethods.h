#pragma once
// The methods of TServerMethods1 that clients call: each with its name, parameter names,
// whether it writes and whether it waits for the database, in one table.
#include "methods/MethodModule.h"
#include "methods/ServerMethodsUnit1.h"
#include "protocol/MethodRegistry.h"

namespace krp {

// Built on first use; afterwards only read, from any thread.
const protocol::MethodRegistry<TServerMethods1>& publishedMethods();

// TServerMethods1 with the table above, as the endpoint sees it.
const MethodModule& publishedModule();

}  // namespace krp
