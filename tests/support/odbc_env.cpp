#include "tests/support/odbc_env.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>

namespace vqtest {
namespace {

namespace fs = std::filesystem;

struct State {
  std::mutex mutex;
  std::string dir;
  std::string ini;
  std::set<std::string> sections;
};

State& Env() {
  static State state;
  return state;
}

void RemoveTempDir() {
  if (std::getenv("VQTEST_KEEP") != nullptr) return;
  std::error_code ec;
  fs::remove_all(Env().dir, ec);
}

std::string PgDir() { return std::string(VQ_TEST_BINARY_DIR) + "/pgtest"; }

// Single-quotes a path for the shell.
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

void AppendSection(State& s, const std::string& name, const std::string& body) {
  if (s.sections.count(name) != 0) {
    // Rewrite the file without the old section of that name.
    std::ifstream in(s.ini);
    std::ostringstream kept;
    std::string line;
    bool skipping = false;
    while (std::getline(in, line)) {
      if (!line.empty() && line[0] == '[') skipping = line == "[" + name + "]";
      if (!skipping) kept << line << '\n';
    }
    in.close();
    std::ofstream(s.ini, std::ios::trunc) << kept.str();
  }
  std::ofstream out(s.ini, std::ios::app);
  out << '[' << name << "]\n" << body;
  if (!body.empty() && body.back() != '\n') out << '\n';
  out << '\n';
  out.close();
  if (!out) throw std::runtime_error("cannot write " + s.ini);
  s.sections.insert(name);
}

// The driver list of the tests: every driver section of the system's
// odbcinst.ini with DontDLClose=1 added, so unixODBC keeps a driver loaded
// after its last connection closes. Unloaded drivers leave their one-time
// allocations behind with no symbols, which the leak checker cannot match
// against its suppressions.
void WriteDriverList(const std::string& path) {
  std::ifstream in("/etc/odbcinst.ini");
  std::ostringstream out;
  std::string line;
  bool in_driver = false;
  auto close_section = [&] {
    if (in_driver) out << "DontDLClose=1\n";
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '[') {
      close_section();
      in_driver = line != "[ODBC]";
    } else if (line.rfind("DontDLClose", 0) == 0) {
      continue;  // ours replaces it
    }
    out << line << '\n';
  }
  close_section();
  std::ofstream file(path, std::ios::trunc);
  file << out.str();
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace

void InitOdbcEnv() {
  static std::once_flag once;
  std::call_once(once, [] {
    State& s = Env();
    std::string pattern = (fs::temp_directory_path() / "vqtest-odbc-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    s.dir = pattern;
    s.ini = s.dir + "/odbc.ini";
    std::ofstream(s.ini) << "; data sources of this test process\n";
    setenv("ODBCINI", s.ini.c_str(), 1);
    WriteDriverList(s.dir + "/odbcinst.ini");
    setenv("ODBCSYSINI", s.dir.c_str(), 1);
    std::atexit(RemoveTempDir);
  });
}

std::string TempDir() {
  InitOdbcEnv();
  return Env().dir;
}

std::string OdbcIniPath() {
  InitOdbcEnv();
  return Env().ini;
}

std::string AddSqliteDsn(const std::string& name, const std::string& sql_script) {
  InitOdbcEnv();
  State& s = Env();
  std::lock_guard<std::mutex> lock(s.mutex);
  const std::string db = s.dir + "/" + name + ".db";
  const std::string script = s.dir + "/" + name + ".sql";
  std::error_code ec;
  fs::remove(db, ec);
  {
    std::ofstream out(script, std::ios::trunc);
    out << sql_script << '\n';
    if (!out) throw std::runtime_error("cannot write " + script);
  }
  const std::string command =
      "sqlite3 -bail " + ShellQuote(db) + " < " + ShellQuote(script) + " > " + ShellQuote(script + ".log") + " 2>&1";
  const int status = std::system(command.c_str());
  if (status != 0 || !fs::exists(db)) {
    std::ifstream log(script + ".log");
    std::stringstream text;
    text << log.rdbuf();
    throw std::runtime_error("sqlite3 failed on the script for " + name + ": " + text.str());
  }
  AppendSection(s, name, "Driver=SQLite3\nDatabase=" + db + "\nTimeout=2000\n");
  return name;
}

bool AddPgDsn() {
  InitOdbcEnv();
  std::ifstream in(PgDir() + "/pgtest.ini");
  if (!in) return false;
  std::string line;
  std::ostringstream body;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '[') continue;  // the section header is ours to write
    body << line << '\n';
  }
  State& s = Env();
  std::lock_guard<std::mutex> lock(s.mutex);
  AppendSection(s, "pgtest", body.str());
  return true;
}

std::string PgUnavailableReason() {
  return "no throwaway PostgreSQL server (" + PgDir() +
         "/pgtest.ini is missing; run the tests through ctest, which starts it)";
}

bool RequirePg() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0';
}

std::string AddDsn(const std::string& name, const std::string& body) {
  InitOdbcEnv();
  State& s = Env();
  std::lock_guard<std::mutex> lock(s.mutex);
  AppendSection(s, name, body);
  return name;
}

}  // namespace vqtest
