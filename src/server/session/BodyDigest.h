#pragma once
// The SHA-256 of a request body as 64 lowercase hex digits: a body may be up to 16 MiB, so a
// kept call remembers only its digest.
#include <string>
#include <string_view>

namespace krp::session {

std::string bodyDigest(std::string_view body);

}  // namespace krp::session
