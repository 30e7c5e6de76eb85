// The reference program's request work against a throwaway SQLite source:
// what it reads must be what vqsrv's "query" P3=-1 replies, or the
// comparison measures different work.
#include "bench/odbc_work.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

// Full stacks for the leak checker: with fast unwinding the driver's
// one-time allocations end in frames it cannot name, so the suite's
// suppressions of the drivers would not match them.
extern "C" const char* __lsan_default_options() { return "fast_unwind_on_malloc=0"; }

namespace {

class OdbcWorkTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char dir_template[] = "/tmp/odbc_work_testXXXXXX";
    dir_ = mkdtemp(dir_template);
    const std::string db = dir_ + "/t.db";
    const std::string sql =
        "sqlite3 " + db +
        " \"CREATE TABLE t(id INTEGER, name TEXT, price REAL, note TEXT);"
        " INSERT INTO t VALUES (1, 'alpha', 1.5, NULL), (2, '', 2.25, 'x');"
        " CREATE TABLE w(v TEXT); INSERT INTO w VALUES (replace(hex(zeroblob(5000)), '0', 'z'));\"";
    ASSERT_EQ(std::system(sql.c_str()), 0);
    std::ofstream(dir_ + "/odbc.ini") << "[worktest]\nDriver=SQLite3\nDatabase=" << db << "\n";
    // Our own driver list: DontDLClose keeps the driver loaded, so the leak
    // checker can name (and the suite's suppressions match) its one-time
    // allocations.
    std::ofstream(dir_ + "/odbcinst.ini")
        << "[SQLite3]\nDriver=libsqlite3odbc.so\nDontDLClose=1\n";
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    setenv("ODBCSYSINI", dir_.c_str(), 1);
  }
  static void TearDownTestSuite() {
    std::system(("rm -rf " + dir_).c_str());
  }
  static std::string dir_;
};
std::string OdbcWorkTest::dir_;

TEST_F(OdbcWorkTest, ReadsEveryCellAsTextJoinedByBars) {
  bench::Environment env;
  bench::Connection c;
  ASSERT_TRUE(c.Open(env.Handle(), "worktest"));

  std::string out;
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT id, name, price, note FROM t ORDER BY id",
                                  false, out));
  // A null and an empty text both add nothing between their bars.
  EXPECT_EQ(out, "1|alpha|1.5||2||2.25|x");

  out.clear();
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT id, note FROM t WHERE id = 2", true, out));
  EXPECT_EQ(out, "id=note=2|x");

  // A text longer than one read buffer arrives whole.
  out.clear();
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT v FROM w", false, out));
  EXPECT_EQ(out, std::string(10000, 'z'));

  // The same connection serves again after a failing statement.
  out.clear();
  EXPECT_FALSE(bench::RunStatement(c.Handle(), "SELECT nothing FROM nowhere", false, out));
  ASSERT_TRUE(bench::RunStatement(c.Handle(), "SELECT count(*) FROM t", false, out));
  EXPECT_EQ(out, "2");
}

TEST_F(OdbcWorkTest, UnknownSourceFailsToConnect) {
  bench::Environment env;
  bench::Connection c;
  EXPECT_FALSE(c.Open(env.Handle(), "no_such_source_here"));
  EXPECT_TRUE(c.Handle() == SQL_NULL_HDBC);
}

}  // namespace
