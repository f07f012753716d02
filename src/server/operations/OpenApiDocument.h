#pragma once
// The OpenAPI 3.1 description of the wire protocol (docs/openapi.yaml), as JSON text. The
// build converts the YAML file into the generated source that defines it.
#include <string_view>

namespace krp {

std::string_view openApiJson();

}  // namespace krp
