// The databases' own command-line clients, for checking what a test stored
// without going through the code under test.
//
//   std::string hex = vqtest::SqliteClient(db_file, "SELECT hex(t) FROM u");
//   std::string hex = vqtest::PsqlClient("SELECT encode(convert_to(t, 'UTF8'), 'hex') FROM u");
//   std::string hex = vqtest::MariaClient("SELECT lower(hex(t)) FROM u");
#pragma once

#include <string>

namespace vqtest {

// Runs sql with the sqlite3 shell on the database file; its standard
// output without the final line end ("<sqlite3 failed: ...>" on failure).
std::string SqliteClient(const std::string& database, const std::string& sql);

// Runs sql with psql on the throwaway PostgreSQL server (database
// "vqtest", unaligned, tuples only); output as for SqliteClient. Needs the
// server (AddPgDsn() true).
std::string PsqlClient(const std::string& sql);

// Runs sql with the mariadb client on the throwaway MariaDB server
// (database "vqtest", utf8mb4, tab-separated, no column names); output as
// for SqliteClient. Needs the server (AddMariaDsn() true).
std::string MariaClient(const std::string& sql);

// Hex digits (lowercase) of the bytes of text, as hex() and encode() show
// them.
std::string HexOf(const std::string& text);

}  // namespace vqtest
