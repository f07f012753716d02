#pragma once
// The console's page, style and script (src/server/operations/console/), compiled into the
// program by the build: nothing is read from disk or fetched from elsewhere.
#include <string_view>

namespace krp {

std::string_view consolePage();    // console.html
std::string_view consoleStyle();   // console.css
std::string_view consoleScript();  // console.js
std::string_view consoleIcon();    // console.svg

}  // namespace krp
