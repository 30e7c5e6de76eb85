// Limits of the HTTP host: each answer the client gets, and that the server
// serves the next good request afterwards. Also the bearer token cases.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "tests/support/http_client.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using boost::beast::http::verb;
using vqtest::HttpClient;
using zrm_test::Running;
using zrm_test::Vars;
using namespace std::chrono_literals;

const std::string kEcho = R"({"M":"echo","P1":"ok"})";

bool StillServes(const std::string& address) {
  return vqtest::PostOnce(address, "/svc", kEcho).body == "\"ok\"";
}

TEST(ZrmLimits, SlowRequestGets408AndDoesNotBlockOthers) {
  Running run(Vars{{"ZRM_READ_TIMEOUT_MS", "300"}, {"ZRM_THREADS", "1"}});
  HttpClient slow(run.Address());
  const auto start = std::chrono::steady_clock::now();
  slow.WriteRaw("POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: 40\r\n\r\n{\"M\":");
  // With a single request thread, another client is served meanwhile.
  EXPECT_TRUE(StillServes(run.Address()));
  const auto answer = slow.Read();
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(answer.status, 408u);
  EXPECT_EQ(answer.body.rfind("{\"error\":{\"type\":\"RequestTimeout\"", 0), 0u) << answer.body;
  EXPECT_FALSE(answer.keep_alive);
  EXPECT_GE(took, 250ms);
  EXPECT_LT(took, 3s);
  EXPECT_TRUE(slow.PeerClosed(2000));
  EXPECT_TRUE(StillServes(run.Address()));
}

TEST(ZrmLimits, IdleKeepAliveConnectionIsClosedQuietly) {
  Running run(Vars{{"ZRM_IDLE_TIMEOUT_MS", "200"}, {"ZRM_READ_TIMEOUT_MS", "5000"}});
  HttpClient c(run.Address());
  EXPECT_EQ(c.Post("/svc", kEcho).status, 200u);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(c.PeerClosed(3000));  // no 408: nothing was asked
  EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
  // A connection in use is not cut by the idle limit.
  HttpClient busy(run.Address());
  EXPECT_EQ(busy.Post("/svc", R"({"M":"slow","P1":400})").body, "\"done\"");
  EXPECT_TRUE(StillServes(run.Address()));
}

TEST(ZrmLimits, ConnectionsPastTheLimitGet503) {
  Running run(Vars{{"ZRM_MAX_CONNECTIONS", "2"}});
  auto a = std::make_unique<HttpClient>(run.Address());
  auto b = std::make_unique<HttpClient>(run.Address());
  EXPECT_EQ(a->Post("/svc", kEcho).status, 200u);  // both are accepted by now
  EXPECT_EQ(b->Post("/svc", kEcho).status, 200u);
  HttpClient third(run.Address());
  const auto refused = third.Read();
  EXPECT_EQ(refused.status, 503u);
  EXPECT_EQ(refused.content_type, "application/json");
  EXPECT_EQ(refused.body.rfind("{\"error\":{\"type\":\"ServiceUnavailable\"", 0), 0u);
  EXPECT_FALSE(refused.keep_alive);
  EXPECT_EQ(a->Post("/svc", kEcho).status, 200u);  // the admitted ones go on
  a.reset();
  // Once one has gone, a new connection is served again.
  const bool served = vqtest::WaitUntil([&] {
    try {
      HttpClient next(run.Address());
      return next.Post("/svc", kEcho).status == 200;
    } catch (const std::exception&) {
      return false;
    }
  }, 1s, 20ms);
  EXPECT_TRUE(served);
}

TEST(ZrmLimits, LargeReplyIs500AndNextRequestWorks) {
  Running run(Vars{{"ZRM_MAX_REPLY", "2048"}});
  HttpClient c(run.Address());
  auto a = c.Post("/svc", R"({"M":"big","P1":2046})");  // 2046 + quotes: at the limit
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body.size(), 2048u);
  a = c.Post("/svc", R"({"M":"big","P1":5000})");
  EXPECT_EQ(a.status, 500u);
  EXPECT_NE(a.body.find("ZRM_MAX_REPLY"), std::string::npos) << a.body;
  EXPECT_NE(a.body.find("5002 bytes"), std::string::npos) << a.body;
  EXPECT_TRUE(a.keep_alive);
  EXPECT_EQ(c.Post("/svc", kEcho).body, "\"ok\"");
  // A request operation that finds its reply too large before it is built
  // gets the same answer.
  a = c.Post("/svc", R"({"M":"refuse"})");
  EXPECT_EQ(a.status, 500u);
  EXPECT_EQ(a.body, R"x({"error":{"type":"ReplyTooLarge","message":"the reply is larger than the limit of 2048 bytes (ZRM_MAX_REPLY)"}})x");
  EXPECT_TRUE(a.keep_alive);
  EXPECT_EQ(c.Post("/svc", kEcho).body, "\"ok\"");
}

// Large pre-encoded parts go out as they are, after the encoded head of the
// reply: the body must read as one JSON text, and the reply limit counts them.
TEST(ZrmLimits, PreEncodedPartsArriveWholeAndCountTowardsTheLimit) {
  Running run(Vars{{"ZRM_MAX_REPLY", "2000000"}});
  HttpClient c(run.Address());
  auto a = c.Post("/svc", R"({"M":"parts","P1":200000})");
  ASSERT_EQ(a.status, 200u);
  std::string expected = "{\"Results\":[";
  for (int i = 0; i < 200000; ++i) expected += (i ? "," : "") + std::to_string(i);
  expected += "],\"Status\":true}";
  EXPECT_EQ(a.body.size(), expected.size());
  EXPECT_TRUE(a.body == expected);
  EXPECT_TRUE(a.keep_alive);
  a = c.Post("/svc", R"({"M":"parts","P1":400000})");  // some 2.6 MB
  EXPECT_EQ(a.status, 500u);
  EXPECT_NE(a.body.find("ZRM_MAX_REPLY"), std::string::npos) << a.body.substr(0, 200);
  EXPECT_EQ(c.Post("/svc", kEcho).body, "\"ok\"");
}

TEST(ZrmLimits, LargeHeaderIs431AndBodyLimitIs413) {
  Running run(Vars{{"ZRM_MAX_HEADER", "1024"}, {"ZRM_MAX_BODY", "100"}});
  {
    HttpClient c(run.Address());
    auto a = c.Send(verb::post, "/svc", kEcho, {{"X-Filler", std::string(2000, 'a')}});
    EXPECT_EQ(a.status, 431u);
    EXPECT_EQ(a.body.rfind("{\"error\":", 0), 0u);
    EXPECT_FALSE(a.keep_alive);
  }
  {
    HttpClient c(run.Address());  // a header just under the limit passes
    EXPECT_EQ(c.Send(verb::post, "/svc", kEcho, {{"X-Filler", std::string(700, 'a')}}).status,
              200u);
    EXPECT_EQ(c.Post("/svc", std::string(101, ' ')).status, 413u);
  }
  EXPECT_TRUE(StillServes(run.Address()));
}

TEST(ZrmLimits, BadLimitValuesNameTheVariable) {
  for (const char* var : {"ZRM_READ_TIMEOUT_MS", "ZRM_IDLE_TIMEOUT_MS", "ZRM_MAX_CONNECTIONS",
                          "ZRM_MAX_REPLY", "ZRM_MAX_HEADER", "ZRM_DRAIN_TIMEOUT_MS",
                          "ZRM_METRICS_PUBLIC", "ZRM_CONSOLE"}) {
    for (const char* bad : {"", "0", "x1", "-5", "99999999999999999999"}) {
      const std::string flag = var;  // 0 and 1 are its values
      if ((flag == "ZRM_METRICS_PUBLIC" || flag == "ZRM_CONSOLE") && std::string(bad) == "0") continue;
      try {
        ZRM_ParseConfig([&](const char* name) -> const char* {
          return std::string(name) == var ? bad : nullptr;
        });
        ADD_FAILURE() << var << "=" << bad << " accepted";
      } catch (const ZR_EException& e) {
        EXPECT_NE(e.Message().find(var), std::string::npos) << e.Message();
      }
    }
  }
  const ZRM_Config d = ZRM_ParseConfig([](const char*) -> const char* { return nullptr; });
  EXPECT_EQ(d.max_reply, 256u << 20);
  EXPECT_EQ(d.max_header, 16384u);
  EXPECT_EQ(d.max_connections, 1024u);
  EXPECT_FALSE(d.metrics_public);
  EXPECT_TRUE(d.pages);
}

TEST(ZrmLimits, BearerTokenCases) {
  const vqtest::ScratchDir dir("zrm-token");
  const std::string path = dir.File("trace.log");
  const std::string token = "s3cret-Token-value";
  {
    Running run(Vars{{"ZRM_TOKEN", token}, {"ZRM_DEBUG", "3"}, {"ZRM_TRACE", path}});
    HttpClient c(run.Address());
    const auto missing = c.Post("/svc", R"({"M":"trace"})");
    EXPECT_EQ(missing.status, 401u);
    EXPECT_EQ(missing.www_authenticate, "Bearer");
    EXPECT_EQ(missing.body.rfind("{\"error\":{\"type\":\"Unauthorized\"", 0), 0u);
    for (const std::string& bad : {"Bearer " + token + "x", "Bearer " + token.substr(1),
                                   std::string("Bearer s3cret-Token-valuf"), "Basic " + token, token,
                                   std::string("Bearer ")}) {
      const auto a = c.Send(verb::post, "/svc", kEcho, {{"Authorization", bad}});
      EXPECT_EQ(a.status, 401u) << bad;
      EXPECT_EQ(a.www_authenticate, "Bearer") << bad;
    }
    const auto ok = c.Send(verb::post, "/svc", R"({"M":"trace"})",
                           {{"Authorization", "bearer " + token}});
    EXPECT_EQ(ok.status, 200u);
    EXPECT_TRUE(ok.www_authenticate.empty());
    // Operational paths need it too unless made public.
    EXPECT_EQ(c.Send(verb::get, "/metrics", "").status, 401u);
    EXPECT_EQ(c.Send(verb::get, "/readyz", "", {{"Authorization", "Bearer " + token}}).status,
              200u);
  }
  std::ifstream in(path);
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_NE(all.str().find(" L1 #"), std::string::npos);  // the trace was written
  EXPECT_EQ(all.str().find(token), std::string::npos);

  Running open(Vars{{"ZRM_TOKEN", token}, {"ZRM_METRICS_PUBLIC", "1"}});
  HttpClient c(open.Address());
  EXPECT_EQ(c.Send(verb::get, "/metrics", "").status, 200u);
  EXPECT_EQ(c.Send(verb::get, "/healthz", "").status, 200u);
  EXPECT_EQ(c.Post("/svc", kEcho).status, 401u);  // the service still asks
}

}  // namespace
