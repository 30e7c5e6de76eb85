// The service's pool families: one row per name of VQ_DSNS (letter case
// ignored, the configured spelling shown), or one total without a dsn label.
#include "srv/vq_metrics.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

const std::vector<AdoPoolUsage> kUsage = {
    {"demo", 1, 2, 3},
    {"my\"dsn", 0, 1, 1},
    {"unlisted", 5, 0, 7},
};

std::string Text(const VQ_TDsnPolicy& policy) {
  std::string out;
  VQ_PoolMetricsText(policy, kUsage, out);
  return out;
}

TEST(PoolMetrics, PerListedNameWithTheConfiguredSpelling) {
  const std::string text = Text(VQ_TDsnPolicy("Demo,pg,my\"dsn", nullptr));
  EXPECT_EQ(text,
            "# HELP vqsrv_db_pool_connections ODBC connections kept for reuse (idle) and held by running requests "
            "(busy).\n"
            "# TYPE vqsrv_db_pool_connections gauge\n"
            "vqsrv_db_pool_connections{dsn=\"Demo\",state=\"idle\"} 1\n"
            "vqsrv_db_pool_connections{dsn=\"Demo\",state=\"busy\"} 2\n"
            "vqsrv_db_pool_connections{dsn=\"pg\",state=\"idle\"} 0\n"
            "vqsrv_db_pool_connections{dsn=\"pg\",state=\"busy\"} 0\n"
            "vqsrv_db_pool_connections{dsn=\"my\\\"dsn\",state=\"idle\"} 0\n"
            "vqsrv_db_pool_connections{dsn=\"my\\\"dsn\",state=\"busy\"} 1\n"
            "# HELP vqsrv_db_pool_waits_total Times a request found no idle connection and waited for a new one "
            "to be opened.\n"
            "# TYPE vqsrv_db_pool_waits_total counter\n"
            "vqsrv_db_pool_waits_total{dsn=\"Demo\"} 3\n"
            "vqsrv_db_pool_waits_total{dsn=\"pg\"} 0\n"
            "vqsrv_db_pool_waits_total{dsn=\"my\\\"dsn\"} 1\n");
}

TEST(PoolMetrics, OneTotalWhenEveryNameIsAllowed) {
  const std::string text = Text(VQ_TDsnPolicy(nullptr, nullptr));
  EXPECT_NE(text.find("vqsrv_db_pool_connections{state=\"idle\"} 6\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vqsrv_db_pool_connections{state=\"busy\"} 3\n"), std::string::npos) << text;
  EXPECT_NE(text.find("vqsrv_db_pool_waits_total 11\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("dsn="), std::string::npos) << "no label a client could multiply";
}

}  // namespace
