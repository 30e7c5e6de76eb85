#include "tests/support/db_client.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/odbc_env.h"

namespace vqtest {
namespace {

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Writes sql to a file of its own, so no shell ever reads the statement.
std::string ScriptFile(const std::string& sql) {
  static std::atomic<int> counter{0};
  const std::string path =
      TempDir() + "/client" + std::to_string(getpid()) + "_" + std::to_string(++counter) + ".sql";
  std::ofstream(path, std::ios::trunc) << sql << '\n';
  return path;
}

// Standard output of command; its messages (notices, errors) count only
// when it fails.
std::string Run(const std::string& command, const char* client) {
  const std::string errors = ScriptFile("") + ".err";
  FILE* pipe = popen((command + " 2>" + ShellQuote(errors)).c_str(), "r");
  if (pipe == nullptr) return std::string("<") + client + " failed: cannot start>";
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  if (!out.empty() && out.back() == '\n') out.pop_back();
  if (status != 0) {
    std::ifstream in(errors);
    std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return std::string("<") + client + " failed: " + out + message + ">";
  }
  return out;
}

// "Key=value" of a throwaway server's data source section (<build>/<dsn>/<dsn>.ini).
std::string ServerSetting(const std::string& dsn, const std::string& key) {
  std::ifstream in(std::string(VQ_TEST_BINARY_DIR) + "/" + dsn + "/" + dsn + ".ini");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  return "";
}

}  // namespace

std::string SqliteClient(const std::string& database, const std::string& sql) {
  return Run("sqlite3 -bail " + ShellQuote(database) + " < " + ShellQuote(ScriptFile(sql)), "sqlite3");
}

std::string PsqlClient(const std::string& sql) {
  const auto pg = [](const char* key) { return ShellQuote(ServerSetting("pgtest", key)); };
  return Run("psql -X -q -A -t -v ON_ERROR_STOP=1 -h " + pg("Servername") + " -p " + pg("Port") + " -U " +
                 pg("Username") + " -d " + pg("Database") + " -f " + ShellQuote(ScriptFile(sql)),
             "psql");
}

std::string MariaClient(const std::string& sql) {
  const auto maria = [](const char* key) { return ShellQuote(ServerSetting("mariatest", key)); };
  return Run("mariadb --no-defaults --default-character-set=utf8mb4 -B -N -r -h " + maria("Server") + " -P " +
                 maria("Port") + " -u " + maria("User") + " " + maria("Database") + " < " +
                 ShellQuote(ScriptFile(sql)),
             "mariadb");
}

std::string HexOf(const std::string& text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : text) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace vqtest
