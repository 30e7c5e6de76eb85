// Which DSNs the service serves from which file, and the refusal of DSNs
// whose settings sit in a user file the service may not write (unixODBC
// would load their driver without any of their settings).
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "srv/dsn_policy.h"
#include "srv/dsn_sources.h"

namespace {

namespace fs = std::filesystem;

class DsnSources : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("vq_dsn_sources_" + std::to_string(getpid()));
    fs::create_directories(dir_ / "sys");
    files_.user = (dir_ / "user.ini").string();
    files_.system = (dir_ / "sys" / "odbc.ini").string();
    Write(files_.user, "[Old]\nDriver=SQLite3\nDatabase=/tmp/old.db\n\n[both]\nDriver=SQLite3\n");
    Write(files_.system,
          "[ODBC]\nTrace=No\n\n[sys]\nDriver=SQLite3\nDatabase=/tmp/sys.db\n\n[BOTH]\nDriver=PostgreSQL Unicode\n"
          "\n[nodriver]\nDatabase=/tmp/x.db\n");
  }
  void TearDown() override { fs::remove_all(dir_); }

  static void Write(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

  static std::string Joined(const std::vector<VQ_TDsnSources::Line>& lines) {
    std::string out;
    for (const auto& l : lines) out += (l.problem ? "! " : "  ") + l.text + "\n";
    return out;
  }

  fs::path dir_;
  VQ_TDsnFiles files_;
};

TEST_F(DsnSources, UserFileTheServiceCannotWriteIsRefusedByName) {
  const VQ_TDsnSources sources(files_, false);
  const std::string refused = sources.Check("old");
  EXPECT_EQ(refused, "[vqsrv] Data source \"old\" not used: its settings are in " + files_.user +
                         ", which the service may not write, and unixODBC then gives the driver none of "
                         "them; keep DSNs in odbc.ini of the ODBCSYSINI folder");
  EXPECT_NE(sources.Check("OLD"), "");   // letter case ignored, as unixODBC does
  EXPECT_NE(sources.Check("Both"), "");  // the driver manager takes the user file's section
  EXPECT_EQ(sources.Check("sys"), "");
  EXPECT_EQ(sources.Check("unknown"), "");  // left to unixODBC's "not found"

  // A DSN added to that file after start is caught too.
  Write(files_.user, "[later]\nDriver=SQLite3\n");
  EXPECT_NE(sources.Check("later"), "");

  const std::string text = Joined(sources.Describe(VQ_TDsnPolicy()));
  EXPECT_NE(text.find("! Data source \"Old\" not used: its settings are in " + files_.user), std::string::npos)
      << text;
  EXPECT_NE(text.find("  data source \"sys\" from " + files_.system + " (driver \"SQLite3\")\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("! data source \"nodriver\" from " + files_.system + " (driver not set)\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("\"ODBC\""), std::string::npos) << text;  // options, not a DSN
}

TEST_F(DsnSources, WritableUserFileServesItsDsns) {
  const VQ_TDsnSources sources(files_, true);
  for (const char* name : {"old", "both", "sys", "unknown"}) EXPECT_EQ(sources.Check(name), "") << name;
  const std::string text = Joined(sources.Describe(VQ_TDsnPolicy()));
  EXPECT_NE(text.find("  data source \"Old\" from " + files_.user + " (driver \"SQLite3\")\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("  data source \"both\" from " + files_.user + " (driver \"SQLite3\")\n"), std::string::npos)
      << text;
  EXPECT_EQ(text.find("! Data source"), std::string::npos) << text;
}

TEST_F(DsnSources, UserFileThatIsTheSystemFileIsReadAsSuch) {
  VQ_TDsnFiles same = files_;
  same.user = (dir_ / "sys" / "." / "odbc.ini").string();
  const VQ_TDsnSources sources(same, false);
  EXPECT_EQ(sources.Check("sys"), "");
  EXPECT_EQ(Joined(sources.Describe(VQ_TDsnPolicy("sys", nullptr))),
            "  data source \"sys\" from " + same.user + " (driver \"SQLite3\")\n");
}

TEST_F(DsnSources, DescribesOnlyTheNamesOfVqDsnsAndThoseFoundNowhere) {
  const VQ_TDsnSources sources(files_, true);
  const std::string text = Joined(sources.Describe(VQ_TDsnPolicy("SYS,missing", nullptr)));
  EXPECT_EQ(text, "  data source \"sys\" from " + files_.system +
                      " (driver \"SQLite3\")\n! data source \"missing\" of VQ_DSNS is in neither " + files_.user +
                      " nor " + files_.system + "\n");
  fs::remove(files_.user);
  fs::remove(files_.system);
  EXPECT_EQ(Joined(VQ_TDsnSources(files_, true).Describe(VQ_TDsnPolicy())),
            "! no data source in " + files_.user + " or " + files_.system + "\n");
}

TEST(DsnFiles, FromTheEnvironmentAsUnixOdbcFindsThem) {
  std::map<std::string, std::string> env{{"HOME", "/home/x"}};
  auto lookup = [&](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  VQ_TDsnFiles f = VQ_DsnFilesFromEnv(lookup);
  EXPECT_EQ(f.user, "/home/x/.odbc.ini");
  EXPECT_EQ(f.system, "/etc/odbc.ini");
  env = {{"HOME", "/home/x"}, {"ODBCINI", "/etc/vqsrv/odbc.ini"}, {"ODBCSYSINI", "/etc/vqsrv"}};
  f = VQ_DsnFilesFromEnv(lookup);
  EXPECT_EQ(f.user, "/etc/vqsrv/odbc.ini");
  EXPECT_EQ(f.system, "/etc/vqsrv/odbc.ini");
  EXPECT_TRUE(VQ_MayWrite("/nonexistent/dir/odbc.ini"));  // a missing file holds no DSN
}

}  // namespace
