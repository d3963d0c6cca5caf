// Test support for tests on database files: a scratch directory made the
// host's data directory, and the first row of a query on a raw database
// file, read with SQLite itself rather than through the host.
#ifndef VELKO_TESTS_SUPPORT_STORE_FILES_H
#define VELKO_TESTS_SUPPORT_STORE_FILES_H

#include <sqlite3.h>
#include <stdlib.h>

#include <string>

#include "host/host_testing.h"

namespace file_testing {

/* A new directory "/tmp/<prefix>-XXXXXX" made the host's data directory,
 * where file databases are created; empty when it could not be made. The
 * caller removes it. */
inline std::string MakeDataDirectory(const char* prefix) {
  std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr)
    return {};
  HostTestSetDataDirectory(pattern.c_str());
  return pattern;
}

/* The columns of the query's first row joined by "|" (a NULL as nothing);
 * empty when the query fails or finds no row. */
inline std::string FirstRow(sqlite3* db, const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::string text;
  if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW) {
    for (int column = 0; column < sqlite3_column_count(stmt); ++column) {
      if (column > 0)
        text += "|";
      const auto* value = sqlite3_column_text(stmt, column);
      text += value == nullptr ? "" : reinterpret_cast<const char*>(value);
    }
  }
  sqlite3_finalize(stmt);
  return text;
}

} // namespace file_testing

#endif
