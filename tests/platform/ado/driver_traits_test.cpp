// The per-driver table: which name finds which entry.
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
  }
  for (const char* maria : {"libmaodbc.so", "/usr/lib/x86_64-linux-gnu/odbc/libmaodbc.so"}) {
    const DriverTraits t = DriverTraitsForName(maria);
    EXPECT_FALSE(t.max_rows_attribute) << maria;
    EXPECT_FALSE(t.reread_bound_values) << maria;
    EXPECT_TRUE(t.values_keep_declared_types) << maria;
  }
  // Drivers the table does not hold, and near misses, get what ODBC promises.
  for (const char* other : {"psqlodbcw.so", "", "sqlite3odbc", "libsqliteodbc.so", "maodbc.so.1"}) {
    const DriverTraits t = DriverTraitsForName(other);
    EXPECT_FALSE(t.max_rows_attribute) << other;
    EXPECT_TRUE(t.reread_bound_values) << other;
    EXPECT_TRUE(t.values_keep_declared_types) << other;
  }
}

}  // namespace
}  // namespace zado
