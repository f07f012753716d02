#pragma once
// Where the running program lies, without Qt.
#include <filesystem>

namespace krp::platform {

// The directory of the running executable; empty when the system does not say.
std::filesystem::path executableDirectory();

}  // namespace krp::platform
