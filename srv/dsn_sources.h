// Where unixODBC finds the data sources, and the ones whose settings would
// never reach their driver.
//
// unixODBC keeps DSNs in two files: the user file ($ODBCINI, else
// ~/.odbc.ini) and the system file (odbc.ini in $ODBCSYSINI, else /etc).
// The driver manager finds a DSN's driver in either. The driver then reads
// its own settings (Database, Servername ...) through libodbcinst, which
// takes the user file into account only after opening it for appending (so
// as to create it when missing). When the service may not write the user
// file (its permissions, or /etc read-only under the unit's
// ProtectSystem=strict), the driver is loaded but gets none of the DSN's
// settings: the SQLite driver then opens a temporary database and reports
// success. Such names are refused with the connect-failure reply instead.
// The system file is read without that probe, so DSNs there always work.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class VQ_TDsnPolicy;

struct VQ_TDsnFiles {
  std::string user;    // $ODBCINI, else $HOME/.odbc.ini
  std::string system;  // $ODBCSYSINI/odbc.ini, else /etc/odbc.ini
};

// The files unixODBC reads, from the environment (lookup returns null for an
// unset variable; HOME falls back to the user's home directory).
VQ_TDsnFiles VQ_DsnFilesFromEnv(const std::function<const char*(const char*)>& lookup);

// True when the process may write path, or path does not exist (a missing
// user file holds no DSN, whatever happens to it).
bool VQ_MayWrite(const std::string& path);

class VQ_TDsnSources {
 public:
  struct Line {
    std::string text;
    bool problem;  // a configuration mistake, said on standard error too
  };

  // Reads the DSN names of both files. user_writable: whether the service
  // may write files.user (VQ_MayWrite), decided once, at start.
  VQ_TDsnSources(VQ_TDsnFiles files, bool user_writable);

  // Empty when a connect to name may go ahead; else why not (UTF-8). Looks
  // the name up in the user file at each call while that file cannot be
  // written, so a DSN added there later is caught too.
  std::string Check(std::string_view name) const;

  // What start-up says: each DSN served (those of VQ_DSNS when set, else
  // every one found) with its file and driver, DSNs refused as above,
  // VQ_DSNS names found nowhere and files that exist but cannot be read.
  std::vector<Line> Describe(const VQ_TDsnPolicy& policy) const;

  const VQ_TDsnFiles& Files() const { return files_; }

 private:
  struct Dsn {
    std::string name;
    std::string driver;
    bool in_user;  // else in the system file
  };
  const Dsn* Find(std::string_view name) const;
  std::string Refusal(std::string_view name) const;

  VQ_TDsnFiles files_;
  bool user_writable_;
  std::vector<Dsn> dsns_;  // user file first, then system DSNs not in it
};

// The process's view, made on the first call (the server's constructor,
// before any request thread runs).
const VQ_TDsnSources& VQ_DsnSources();
