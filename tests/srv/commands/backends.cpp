#include "tests/srv/commands/backends.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "tests/srv/commands/test_data.h"
#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

std::string Quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs `command` with the SQL text on its standard input and splits what it
// prints into lines.
ClientLines Run(const std::string& command, const std::string& sql) {
  const std::string file = TempDir() + "/client_" + std::to_string(getpid()) + ".sql";
  std::ofstream(file, std::ios::trunc) << sql << ";\n";
  FILE* out = popen((command + " < " + Quote(file) + " 2>&1").c_str(), "r");
  if (out == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return {};
  }
  std::string text;
  char buffer[65536];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, out)) > 0) text.append(buffer, n);
  const int status = pclose(out);
  EXPECT_EQ(status, 0) << command << ": " << text.substr(0, 500);
  ClientLines lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return lines;
}

std::string Key(const std::string& dsn, const std::string& key) {
  for (const auto& [k, v] : TestSection(dsn))
    if (k == key) return v;
  return "";
}

}  // namespace

std::string SqliteBackend::OdbcIni(std::string& dsn, std::string&) {
  static SqliteSource source("CREATE TABLE seed (x integer);");
  dsn = source.Dsn();
  return source.OdbcIni();
}

ClientLines SqliteBackend::Client(const std::string& sql, bool header) {
  std::string dsn, why_not;
  OdbcIni(dsn, why_not);
  return Run(std::string("sqlite3 -bail -list -separator '|'") + (header ? " -header " : " ") +
                 Quote(TempDir() + "/" + dsn + ".db"),
             sql);
}

ClientLines SqliteBackend::ClientOn(const std::string& database, const std::string& sql) {
  return Run("sqlite3 -bail -list -separator '|' " + Quote(database), sql);
}

std::string PgBackend::OdbcIni(std::string& dsn, std::string& why_not) {
  dsn = "pgtest";
  return PgOdbcIni(why_not);
}

ClientLines PgBackend::Client(const std::string& sql, bool header) {
  // Notices (a long name cut to the server's limit) would mix with the rows.
  return Run("PGOPTIONS='-c client_min_messages=warning' psql -X -q -A -v ON_ERROR_STOP=1" + std::string(header ? " -P footer=off" : " -t") + " -h " +
                 Key("pgtest", "Servername") + " -p " + Key("pgtest", "Port") + " -U " + Key("pgtest", "Username") +
                 " -d " + Key("pgtest", "Database"),
             sql);
}

std::string MariaBackend::OdbcIni(std::string& dsn, std::string& why_not) {
  dsn = "mariatest";
  return MariaOdbcIni(why_not);
}

// Tab-separated, raw (no escapes): each tab becomes "|".
ClientLines MariaBackend::Client(const std::string& sql, bool header) {
  ClientLines lines = Run("mariadb --no-defaults --default-character-set=utf8mb4 -B -r" +
                              std::string(header ? "" : " -N") + " -h " + Key("mariatest", "Server") + " -P " +
                              Key("mariatest", "Port") + " -u " + Key("mariatest", "User") + " " +
                              Key("mariatest", "Database"),
                          sql);
  for (std::string& line : lines)
    for (char& c : line)
      if (c == '\t') c = '|';
  return lines;
}

}  // namespace vqtest
