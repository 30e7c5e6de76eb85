// Configuration parsing and the trace record layout.
#include <gtest/gtest.h>

#include <map>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "platform/middleware/zrm_trace.h"
#include "platform/types/zr.h"

namespace {

ZRM_EnvLookup Env(std::map<std::string, std::string> vars) {
  return [vars = std::move(vars)](const char* name) -> const char* {
    auto it = vars.find(name);
    return it == vars.end() ? nullptr : it->second.c_str();
  };
}

std::string ErrorOf(const std::map<std::string, std::string>& vars) {
  try {
    ZRM_ParseConfig(Env(vars));
  } catch (const ZR_EException& e) {
    return e.Message();
  }
  return "";
}

TEST(ZrmConfig, DefaultsAndValues) {
  const ZRM_Config d = ZRM_ParseConfig(Env({}));
  EXPECT_EQ(d.listen_host, "127.0.0.1");
  EXPECT_EQ(d.listen_port, 7400);
  EXPECT_GE(d.threads, 1u);
  EXPECT_EQ(d.debug, 0);
  EXPECT_EQ(d.max_body, 1048576u);
  EXPECT_TRUE(d.trace_path.empty());
  EXPECT_TRUE(d.token.empty());
  EXPECT_EQ(d.drain_grace_ms, 0u);

  const ZRM_Config c = ZRM_ParseConfig(Env({{"ZRM_LISTEN", "[::1]:8080"},
                                            {"ZRM_THREADS", "3"},
                                            {"ZRM_DEBUG", "2"},
                                            {"ZRM_TRACE", "/tmp/t.log"},
                                            {"ZRM_MAX_BODY", "10"},
                                            {"ZRM_TOKEN", "s3cret"},
                                            {"ZRM_DRAIN_GRACE_MS", "2500"}}));
  EXPECT_EQ(c.listen_host, "::1");
  EXPECT_EQ(c.listen_port, 8080);
  EXPECT_EQ(c.threads, 3u);
  EXPECT_EQ(c.debug, 2);
  EXPECT_EQ(c.trace_path, "/tmp/t.log");
  EXPECT_EQ(c.max_body, 10u);
  EXPECT_EQ(c.token, "s3cret");
  EXPECT_EQ(c.drain_grace_ms, 2500u);

  std::string host;
  uint16_t port = 1;
  ZRM_ParseListen("0.0.0.0:0", host, port);
  EXPECT_EQ(host, "0.0.0.0");
  EXPECT_EQ(port, 0);
}

TEST(ZrmConfig, BadValuesNameTheVariable) {
  EXPECT_NE(ErrorOf({{"ZRM_THREADS", "abc"}}).find("ZRM_THREADS"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_THREADS", "0"}}).find("ZRM_THREADS"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_THREADS", ""}}).find("ZRM_THREADS"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_DEBUG", "4"}}).find("ZRM_DEBUG"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_DEBUG", "-1"}}).find("ZRM_DEBUG"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_DRAIN_GRACE_MS", "1s"}}).find("ZRM_DRAIN_GRACE_MS"), std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_DRAIN_GRACE_MS", "86400001"}}).find("ZRM_DRAIN_GRACE_MS"),
            std::string::npos);
  EXPECT_NE(ErrorOf({{"ZRM_MAX_BODY", "99999999999999999999999"}}).find("ZRM_MAX_BODY"),
            std::string::npos);
  for (const char* listen : {"7400", "host:", ":80", "1.2.3.4:65536", "1.2.3.4:8x", "[::1]80",
                             "::1:80", "[::1:80"}) {
    EXPECT_NE(ErrorOf({{"ZRM_LISTEN", listen}}).find("ZRM_LISTEN"), std::string::npos) << listen;
  }
}

TEST(ZrmTrace, TimeFormat) {
  EXPECT_EQ(ZRM_FormatUtcMillis(0), "1970-01-01T00:00:00.000Z");
  // 2026-12-07T20:15:03.123Z
  EXPECT_EQ(ZRM_FormatUtcMillis(1796674503123LL), "2026-12-07T20:15:03.123Z");
  EXPECT_EQ(ZRM_FormatUtcMillis(1796674503007LL), "2026-12-07T20:15:03.007Z");
}

TEST(ZrmTrace, RequestNumberScopeNestsAndRestores) {
  EXPECT_EQ(ZRM_CurrentRequestNumber(), 0u);
  {
    ZRM_RequestNumberScope a(7);
    EXPECT_EQ(ZRM_CurrentRequestNumber(), 7u);
    {
      ZRM_RequestNumberScope b(9);
      EXPECT_EQ(ZRM_CurrentRequestNumber(), 9u);
    }
    EXPECT_EQ(ZRM_CurrentRequestNumber(), 7u);
  }
  EXPECT_EQ(ZRM_CurrentRequestNumber(), 0u);
}

}  // namespace
