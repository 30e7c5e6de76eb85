// The HTTP host in process: routing, statuses, trace, concurrency, token,
// binding failures and the end of the loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "tests/support/http_client.h"
#include "tests/support/metrics_probe.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/wait_until.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using namespace std::chrono_literals;
using boost::beast::http::verb;
using vqtest::HttpClient;

using zrm_test::Running;
using zrm_test::TestServer;
using zrm_test::Vars;
using zrm_test::g_meeting;

TEST(ZrmHttp, RoutesAndStatuses) {
  Running run(Vars{{"ZRM_MAX_BODY", "64"}});
  HttpClient c(run.Address());

  auto a = c.Post("/svc", R"({"M":"echo","P1":"hi"})");
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body, "\"hi\"");
  EXPECT_EQ(a.content_type, "application/json");
  EXPECT_TRUE(a.keep_alive);

  a = c.Post("/svc", R"({"M":"nothing"})");  // same connection: keep-alive
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body, "null");

  a = c.Post("/svc", R"({"M":"zr"})");
  EXPECT_EQ(a.status, 400u);
  EXPECT_EQ(a.body, R"({"error":{"type":"ZR_EException","message":"no good"}})");

  a = c.Post("/svc", R"({"M":)");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("BadRequest"), std::string::npos);
  a = c.Post("/svc", "[]");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("BadRequest"), std::string::npos);

  a = c.Post("/other", "{}");
  EXPECT_EQ(a.status, 404u);
  EXPECT_EQ(a.body.rfind("{\"error\":", 0), 0u);
  a = c.Send(verb::get, "/svc", "");
  EXPECT_EQ(a.status, 405u);
  EXPECT_EQ(a.body.rfind("{\"error\":", 0), 0u);

  a = c.Send(verb::get, "/healthz", "");
  EXPECT_EQ(a.status, 200u);
  EXPECT_EQ(a.body, R"({"status":"ok"})");

  a = c.Post("/svc", std::string(65, ' '));
  EXPECT_EQ(a.status, 413u);
  EXPECT_EQ(a.body.rfind("{\"error\":", 0), 0u);

  // The server is still there after all of that.
  EXPECT_EQ(vqtest::PostOnce(run.Address(), "/svc", R"({"M":"echo","P1":"x"})").body, "\"x\"");
}

TEST(ZrmHttp, PipelinedRequestsAnsweredInOrder) {
  Running run(Vars{{"ZRM_THREADS", "4"}});
  HttpClient c(run.Address());
  std::string raw;
  for (const char* word : {"first", "second", "third"}) {
    const std::string body = std::string(R"({"M":"echo","P1":")") + word + "\"}";
    raw += "POST /svc HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  }
  c.WriteRaw(raw);
  EXPECT_EQ(c.Read().body, "\"first\"");
  EXPECT_EQ(c.Read().body, "\"second\"");
  EXPECT_EQ(c.Read().body, "\"third\"");
}

TEST(ZrmHttp, ConcurrentRequestsOverlap) {
  Running run(Vars{{"ZRM_THREADS", "2"}});
  g_meeting = 0;
  std::string first, second;
  std::thread t([&] { first = vqtest::PostOnce(run.Address(), "/svc", R"({"M":"meet"})").body; });
  second = vqtest::PostOnce(run.Address(), "/svc", R"({"M":"meet"})").body;
  t.join();
  EXPECT_EQ(first, "true");
  EXPECT_EQ(second, "true");
}

TEST(ZrmHttp, TraceRecordsAndNumbers) {
  const vqtest::ScratchDir dir("zrm-trace");
  const std::string path = dir.File("trace.log");
  {
    Running run(Vars{{"ZRM_DEBUG", "1"}, {"ZRM_TRACE", path}});
    run.server.DBG_Type(1, "outside");
    const std::string n1 = vqtest::PostOnce(run.Address(), "/svc", R"({"M":"trace"})").body;
    const std::string n2 = vqtest::PostOnce(run.Address(), "/svc", R"({"M":"trace"})").body;
    EXPECT_EQ(std::stoll(n2), std::stoll(n1) + 1);
    run.server.DBG_Type("raw record\n");

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u);
    const std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z L1 #(\d+) (.*))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, record)) << lines[0];
    EXPECT_EQ(m[1], "0");
    EXPECT_EQ(m[2], "outside");
    const std::string expect[] = {n1, n1, n2, n2};
    const std::string texts[] = {"one", "ends", "one", "ends"};
    for (int i = 0; i < 4; ++i) {
      ASSERT_TRUE(std::regex_match(lines[i + 1], m, record)) << lines[i + 1];
      EXPECT_EQ(m[1], expect[i]);
      EXPECT_EQ(m[2], texts[i]);  // level 2 left out; no doubled line feed
    }
    EXPECT_EQ(lines[5], "raw record");
    EXPECT_TRUE(run.server.OnDebugLevel(1));
    EXPECT_FALSE(run.server.OnDebugLevel(2));
  }
}

TEST(ZrmHttp, BearerToken) {
  Running run(Vars{{"ZRM_TOKEN", "abc"}});
  HttpClient c(run.Address());
  const std::string body = R"({"M":"echo","P1":"ok"})";
  EXPECT_EQ(c.Post("/svc", body).status, 401u);
  EXPECT_EQ(c.Send(verb::post, "/svc", body, {{"Authorization", "Bearer abd"}}).status, 401u);
  EXPECT_EQ(c.Send(verb::post, "/svc", body, {{"Authorization", "Bearer abcd"}}).status, 401u);
  EXPECT_EQ(c.Send(verb::post, "/svc", body, {{"Authorization", "abc"}}).status, 401u);
  const auto ok = c.Send(verb::post, "/svc", body, {{"Authorization", "Bearer abc"}});
  EXPECT_EQ(ok.status, 200u);
  EXPECT_EQ(ok.body, "\"ok\"");
}

TEST(ZrmHttp, BindFailures) {
  Running run(Vars{});
  TestServer again;
  try {
    again.Bind(ZR_TString("svc"), 1, 0, false);
    ADD_FAILURE() << "second bind of a bound name";
  } catch (const ZR_EException& e) {
    EXPECT_NE(e.Message().find("\"svc\""), std::string::npos) << e.Message();
  }
  // A second name shares the listener.
  TestServer other;
  other.Bind(ZR_TString("svc2"), 1, 0, false);
  EXPECT_EQ(other.ListenAddress(), run.Address());
  EXPECT_EQ(vqtest::PostOnce(run.Address(), "/svc2", R"({"M":"echo","P1":"2"})").body, "\"2\"");
}

TEST(ZrmHttp, TakenPortNamesServiceAddressAndReason) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const std::string port = std::to_string(taken.local_endpoint().port());
  setenv("ZRM_LISTEN", ("127.0.0.1:" + port).c_str(), 1);
  ZRM_ReloadConfig();
  TestServer s;
  try {
    s.Bind(ZR_TString("ZIDozeve"), 1, 0, false);
    ADD_FAILURE() << "bind on a taken port";
  } catch (const ZR_EException& e) {
    EXPECT_EQ(e.Message(),
              "cannot bind service \"ZIDozeve\" to 127.0.0.1:" + port + ": Address already in use");
  }
}

TEST(ZrmHttp, ShutdownLetsRunningRequestsFinish) {
  auto run = std::make_unique<Running>(std::map<std::string, std::string>{{"ZRM_THREADS", "2"}});
  const std::string address = run->Address();
  std::string answer;
  std::thread client([&] {
    answer = vqtest::PostOnce(address, "/svc", R"({"M":"slow","P1":300})").body;
  });
  ASSERT_TRUE(vqtest::WaitUntil([&] { return vqtest::RequestsInFlight(address) >= 1; }, 5s));
  run->server.Shutdown();
  run->loop.join();  // returns once the answer is written
  client.join();
  EXPECT_EQ(answer, "\"done\"");
}

TEST(ZrmHttp, IdleTimeOutEndsTheLoop) {
  Running run(Vars{}, 100);
  const auto start = std::chrono::steady_clock::now();
  run.loop.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

}  // namespace
