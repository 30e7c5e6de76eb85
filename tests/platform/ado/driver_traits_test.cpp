// The per-driver table: which name finds which entry, and how each entry
// resets a pooled session.
#include <gtest/gtest.h>

#include "platform/ado/driver_traits.h"

namespace zado {
namespace {

TEST(DriverTraits, NamesFindTheirEntryWithOrWithoutFolderAndPrefix) {
  for (const char* sqlite : {"sqlite3odbc.so", "libsqlite3odbc.so", "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so"}) {
    const DriverTraits t = DriverTraitsForName(sqlite);
    EXPECT_TRUE(t.max_rows_attribute) << sqlite;
    EXPECT_TRUE(t.reread_bound_values) << sqlite;
    EXPECT_FALSE(t.values_keep_declared_types) << sqlite;
    EXPECT_EQ(t.session_reset, SessionReset::kWatchStatements) << sqlite;
  }
  for (const char* maria : {"libmaodbc.so", "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so"}) {
    const DriverTraits t = DriverTraitsForName(maria);
    EXPECT_FALSE(t.max_rows_attribute) << maria;
    EXPECT_FALSE(t.reread_bound_values) << maria;
    EXPECT_TRUE(t.values_keep_declared_types) << maria;
    EXPECT_EQ(t.session_reset, SessionReset::kNone) << maria << ": not pooled";
  }
  for (const char* pg : {"psqlodbcw.so", "psqlodbca.so", "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so"}) {
    const DriverTraits t = DriverTraitsForName(pg);
    EXPECT_FALSE(t.max_rows_attribute) << pg;
    EXPECT_TRUE(t.reread_bound_values) << pg;
    EXPECT_TRUE(t.values_keep_declared_types) << pg;
    EXPECT_EQ(t.session_reset, SessionReset::kDiscardAll) << pg;
  }
  // Drivers the table does not hold, and near misses, get what ODBC promises
  // and are not pooled.
  for (const char* other : {"", "sqlite3odbc", "libsqliteodbc.so", "maodbc.so.1", "psqlodbc.so"}) {
    const DriverTraits t = DriverTraitsForName(other);
    EXPECT_FALSE(t.max_rows_attribute) << other;
    EXPECT_TRUE(t.reread_bound_values) << other;
    EXPECT_TRUE(t.values_keep_declared_types) << other;
    EXPECT_EQ(t.session_reset, SessionReset::kNone) << other;
  }
}

}  // namespace
}  // namespace zado
