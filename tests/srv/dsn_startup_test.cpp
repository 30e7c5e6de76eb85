// A bad VQ_DSNS or VQ_DSN_ATTRIBUTES stops start-up, as a bad ZRM_ value
// does: the message names the variable and the process ends abnormally
// without serving.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include "tests/support/vqsrv_process.h"

namespace {

using vqtest::VqsrvProcess;

void ExpectStartupStops(const std::map<std::string, std::string>& vars, const std::string& message) {
  VqsrvProcess p(vqtest::CallerEnv(vars));
  ASSERT_TRUE(p.Started());
  EXPECT_FALSE(p.WaitReady());
  const int status = p.Wait();
  ASSERT_NE(status, -1);
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(p.Output(), "ZR_EException: " + message + "\n");
}

TEST(DsnStartup, BadValuesStopStartUpNamingTheVariable) {
  ExpectStartupStops({{"VQ_DSNS", "demo,demo;Database=/tmp/x.db"}},
                     "VQ_DSNS must list data source names, not \"demo;Database=/tmp/x.db\": the name contains ';'");
  ExpectStartupStops({{"VQ_DSNS", ""}}, "VQ_DSNS lists no data source name (unset it to allow every DSN)");
  ExpectStartupStops({{"VQ_DSN_ATTRIBUTES", "UID,PWD,Driver"}},
                     "VQ_DSN_ATTRIBUTES must not list DRIVER: a client may never set it");
}

TEST(DsnStartup, GoodValuesServe) {
  VqsrvProcess p(vqtest::CallerEnv({{"VQ_DSNS", "demo, pg"}, {"VQ_DSN_ATTRIBUTES", "UID,PWD"}}));
  EXPECT_TRUE(p.WaitReady());
}

}  // namespace
