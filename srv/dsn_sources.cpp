#include "srv/dsn_sources.h"

#include <fcntl.h>
#include <odbcinst.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "srv/dsn_policy.h"

namespace {

// Debian's unixODBC looks for the system file here when ODBCSYSINI is unset
// ("odbcinst -j" shows it).
constexpr const char* kDefaultSystemFolder = "/etc";

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// unixODBC finds sections without regard to letter case.
bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

// Empty when path is missing or can be read; else why it cannot.
std::string ReadFault(const std::string& path) {
  if (!Exists(path)) return "";
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::close(fd);
    return "";
  }
  return std::strerror(errno);
}

// The value of key in section of the ini file at path (an absolute path:
// libodbcinst then reads that file itself, whatever its configuration
// mode). A null key lists the section's keys; a null section lists the
// sections. Each list entry ends with a NUL, the list with another.
std::string Profile(const char* section, const char* key, const std::string& path) {
  std::string buffer(65536, '\0');
  const int n = SQLGetPrivateProfileString(section, key, "", buffer.data(),
                                           static_cast<int>(buffer.size()) - 1, path.c_str());
  buffer.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return buffer;
}

std::vector<std::string> Sections(const std::string& path) {
  std::vector<std::string> names;
  if (!Exists(path) || !ReadFault(path).empty()) return names;
  const std::string list = Profile(nullptr, nullptr, path);
  for (size_t start = 0; start < list.size();) {
    const size_t end = list.find('\0', start);
    const std::string name = list.substr(start, end == std::string::npos ? end : end - start);
    if (!name.empty() && !SameName(name, "ODBC")) names.push_back(name);  // [ODBC]: options
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return names;
}

std::string Quoted(std::string_view name) { return "\"" + std::string(name) + "\""; }

}  // namespace

VQ_TDsnFiles VQ_DsnFilesFromEnv(const std::function<const char*(const char*)>& lookup) {
  VQ_TDsnFiles files;
  const char* ini = lookup("ODBCINI");
  if (ini != nullptr && *ini != '\0') {
    files.user = ini;
  } else {
    const char* home = lookup("HOME");
    std::string folder = home != nullptr ? home : "";
    if (folder.empty()) {
      if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr)
        folder = pw->pw_dir;
    }
    if (!folder.empty()) files.user = folder + "/.odbc.ini";
  }
  const char* sys = lookup("ODBCSYSINI");
  files.system = std::string(sys != nullptr && *sys != '\0' ? sys : kDefaultSystemFolder) + "/odbc.ini";
  return files;
}

bool VQ_MayWrite(const std::string& path) {
  return !Exists(path) || ::access(path.c_str(), W_OK) == 0;
}

VQ_TDsnSources::VQ_TDsnSources(VQ_TDsnFiles files, bool user_writable)
    : files_(std::move(files)), user_writable_(user_writable) {
  // ODBCINI naming the system file itself: the driver reads it as that.
  struct stat u, s;
  if (::stat(files_.user.c_str(), &u) == 0 && ::stat(files_.system.c_str(), &s) == 0 &&
      u.st_dev == s.st_dev && u.st_ino == s.st_ino)
    user_writable_ = true;
  for (const std::string& name : Sections(files_.user))
    dsns_.push_back({name, Profile(name.c_str(), "Driver", files_.user), true});
  for (const std::string& name : Sections(files_.system))
    if (Find(name) == nullptr)
      dsns_.push_back({name, Profile(name.c_str(), "Driver", files_.system), false});
}

const VQ_TDsnSources::Dsn* VQ_TDsnSources::Find(std::string_view name) const {
  for (const Dsn& d : dsns_)
    if (SameName(d.name, name)) return &d;
  return nullptr;
}

std::string VQ_TDsnSources::Refusal(std::string_view name) const {
  return "[vqsrv] Data source " + Quoted(name) + " not used: its settings are in " + files_.user +
         ", which the service may not write, and unixODBC then gives the driver none of them; "
         "keep DSNs in odbc.ini of the ODBCSYSINI folder";
}

std::string VQ_TDsnSources::Check(std::string_view name) const {
  if (user_writable_ || files_.user.empty()) return "";
  const std::string section(name);
  if (Profile(section.c_str(), nullptr, files_.user).empty()) return "";
  return Refusal(name);
}

std::vector<VQ_TDsnSources::Line> VQ_TDsnSources::Describe(const VQ_TDsnPolicy& policy) const {
  std::vector<Line> lines;
  for (const std::string* path : {&files_.user, &files_.system}) {
    const std::string fault = ReadFault(*path);
    if (!fault.empty()) lines.push_back({"cannot read the DSN file " + *path + ": " + fault, true});
  }
  auto describe = [&](const Dsn& d) {
    if (d.in_user && !user_writable_) {
      lines.push_back({Refusal(d.name).substr(sizeof "[vqsrv] " - 1), true});
      return;
    }
    lines.push_back({"data source " + Quoted(d.name) + " from " +
                         (d.in_user ? files_.user : files_.system) + " (driver " +
                         (d.driver.empty() ? "not set" : Quoted(d.driver)) + ")",
                     d.driver.empty()});
  };
  if (policy.NamesLimited()) {
    for (const std::string& name : policy.Names()) {
      if (const Dsn* d = Find(name)) {
        describe(*d);
      } else {
        lines.push_back({"data source " + Quoted(name) + " of VQ_DSNS is in neither " +
                             (files_.user.empty() ? std::string("(no user file)") : files_.user) +
                             " nor " + files_.system,
                         true});
      }
    }
  } else {
    for (const Dsn& d : dsns_) describe(d);
    if (dsns_.empty())
      lines.push_back({"no data source in " + files_.user + " or " + files_.system, true});
  }
  return lines;
}

const VQ_TDsnSources& VQ_DsnSources() {
  static const VQ_TDsnSources sources = [] {
    VQ_TDsnFiles files = VQ_DsnFilesFromEnv([](const char* name) { return std::getenv(name); });
    const bool writable = VQ_MayWrite(files.user);
    return VQ_TDsnSources(std::move(files), writable);
  }();
  return sources;
}
