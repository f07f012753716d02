# Debian's SOCI 4 ships no CMake package: import its core, ODBC and SQLite3 libraries by hand.
find_path(SOCI_INCLUDE_DIR soci/soci.h REQUIRED)
find_library(SOCI_CORE_LIB soci_core REQUIRED)
find_library(SOCI_ODBC_LIB soci_odbc REQUIRED)
find_library(SOCI_SQLITE3_LIB soci_sqlite3 REQUIRED)
find_package(SQLite3 REQUIRED)
find_library(ODBC_LIB odbc REQUIRED)

add_library(soci::core UNKNOWN IMPORTED)
set_target_properties(soci::core PROPERTIES IMPORTED_LOCATION "${SOCI_CORE_LIB}"
  INTERFACE_INCLUDE_DIRECTORIES "${SOCI_INCLUDE_DIR}")
add_library(soci::odbc UNKNOWN IMPORTED)
set_target_properties(soci::odbc PROPERTIES IMPORTED_LOCATION "${SOCI_ODBC_LIB}"
  INTERFACE_LINK_LIBRARIES "soci::core;${ODBC_LIB}")
add_library(soci::sqlite3 UNKNOWN IMPORTED)
set_target_properties(soci::sqlite3 PROPERTIES IMPORTED_LOCATION "${SOCI_SQLITE3_LIB}"
  INTERFACE_LINK_LIBRARIES "soci::core;SQLite::SQLite3")
