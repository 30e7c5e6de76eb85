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
std::string MariaDir() { return std::string(VQ_TEST_BINARY_DIR) + "/mariatest"; }

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

namespace {

// Adds the section a server script wrote to <dir>/<name>.ini; false when
// the file is missing (the server does not run).
bool AddServerDsn(const std::string& dir, const std::string& name) {
  InitOdbcEnv();
  std::ifstream in(dir + "/" + name + ".ini");
  if (!in) return false;
  std::string line;
  std::ostringstream body;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '[') continue;  // the section header is ours to write
    body << line << '\n';
  }
  State& s = Env();
  std::lock_guard<std::mutex> lock(s.mutex);
  AppendSection(s, name, body.str());
  return true;
}

}  // namespace

bool AddPgDsn() { return AddServerDsn(PgDir(), "pgtest"); }

std::string PgUnavailableReason() {
  return "no throwaway PostgreSQL server (" + PgDir() +
         "/pgtest.ini is missing; run the tests through ctest, which starts it)";
}

bool RequirePg() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0';
}

bool AddMariaDsn() { return AddServerDsn(MariaDir(), "mariatest"); }

std::string MariaUnavailableReason() {
  return "no throwaway MariaDB server (" + MariaDir() +
         "/mariatest.ini is missing; run the tests through ctest, which starts it)";
}

bool RequireMaria() { return RequirePg(); }

std::string AddDsn(const std::string& name, const std::string& body) {
  InitOdbcEnv();
  State& s = Env();
  std::lock_guard<std::mutex> lock(s.mutex);
  AppendSection(s, name, body);
  return name;
}

namespace {

std::string Trim(const std::string& text) {
  const size_t b = text.find_first_not_of(" \t\r");
  if (b == std::string::npos) return "";
  return text.substr(b, text.find_last_not_of(" \t\r") - b + 1);
}

// The keys of section [name] in an ini-style file whose lines carry
// `indent` leading spaces (4 for the README's samples); a blank line or a
// line with less indent ends a section.
DsnKeys ReadSection(const std::string& path, const std::string& name, size_t indent) {
  std::ifstream in(path);
  DsnKeys keys;
  std::string line;
  bool inside = false;
  const std::string pad(indent, ' ');
  while (std::getline(in, line)) {
    const bool ours = line.compare(0, indent, pad) == 0 && (line.size() == indent || line[indent] != ' ');
    const std::string text = ours ? Trim(line) : "";
    if (!text.empty() && text[0] == '[') {
      if (inside) break;
      inside = text == "[" + name + "]";
      continue;
    }
    if (!inside) continue;
    if (text.empty()) {
      if (indent > 0) break;
      continue;
    }
    if (text[0] == ';' || text[0] == '#') continue;
    const size_t eq = text.find('=');
    if (eq != std::string::npos) keys.emplace_back(Trim(text.substr(0, eq)), Trim(text.substr(eq + 1)));
  }
  return keys;
}

std::string SourceFile(const std::string& relative) {
  return std::string(VQ_TEST_SUPPORT_DIR) + "/../../" + relative;
}

}  // namespace

DsnKeys ContribSection(const std::string& name) { return ReadSection(SourceFile("contrib/odbc.ini"), name, 0); }

DsnKeys ReadmeSection(const std::string& name) { return ReadSection(SourceFile("README.md"), name, 4); }

DsnKeys TestSection(const std::string& name) {
  InitOdbcEnv();
  std::lock_guard<std::mutex> lock(Env().mutex);
  return ReadSection(Env().ini, name, 0);
}

bool IsPlaceKey(const std::string& key) {
  std::string k;
  for (char c : key) k.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
  for (const char* place : {"server", "servername", "port", "database", "user", "username", "uid", "password", "pwd"})
    if (k == place) return true;
  return false;
}

std::string AddSampleDsn(const std::string& sample, const std::string& place_from) {
  std::string body;
  for (const auto& [key, value] : ContribSection(sample))
    if (!IsPlaceKey(key)) body += key + "=" + value + "\n";
  for (const auto& [key, value] : TestSection(place_from))
    if (IsPlaceKey(key)) body += key + "=" + value + "\n";
  return AddDsn("sample_" + sample, body);
}

}  // namespace vqtest
