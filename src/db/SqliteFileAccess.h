#pragma once
// How SQLite connections read the database file: through a memory map instead of read calls.
// Pages then come straight from the system's file cache, shared by every connection, instead
// of being copied into each connection's own page cache of 2 MB, which a search over a hundred
// products already overflows, so that every search read its pages again. Each connection maps
// the file on its own, so a 32-bit build (beside 32-bit ODBC drivers) keeps its address space
// and reads. The goals benchmark's in-process yardstick opens its connections the same way.
namespace krp::db {

inline constexpr const char* kSqliteMemoryMapPragma =
    sizeof(void*) >= 8 ? "PRAGMA mmap_size=268435456" /* 256 MiB */ : "PRAGMA mmap_size=0";

}  // namespace krp::db
