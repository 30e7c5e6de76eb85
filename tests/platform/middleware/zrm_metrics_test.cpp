// GET /metrics after known requests, parsed line by line; /readyz while the
// loop drains.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <vector>

#include "platform/middleware/zrm_metrics.h"
#include "tests/support/http_client.h"
#include "tests/support/metrics_probe.h"
#include "tests/support/wait_until.h"
#include "tests/platform/middleware/test_server.h"

namespace {

using boost::beast::http::verb;
using vqtest::HttpClient;
using zrm_test::Running;
using zrm_test::Vars;
using namespace std::chrono_literals;

// Sample lines "name{labels} value" into a map; every other line must be a
// HELP or TYPE comment.
std::map<std::string, double> ParseSamples(const std::string& text) {
  std::map<std::string, double> samples;
  std::istringstream in(text);
  const std::regex sample(R"(([a-z_]+(\{[^}]*\})?) ([0-9.e+-]+|\+Inf))");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) continue;
    std::smatch m;
    EXPECT_TRUE(std::regex_match(line, m, sample)) << line;
    if (!m.empty()) samples[m[1]] = std::stod(m[3]);
  }
  return samples;
}

double Get(const std::map<std::string, double>& s, const std::string& key) {
  auto it = s.find(key);
  return it == s.end() ? 0 : it->second;
}

TEST(ZrmMetrics, CountsKnownRequests) {
  Running run(Vars{});
  HttpClient c(run.Address());
  auto before = ParseSamples(c.Send(verb::get, "/metrics", "").body);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(c.Post("/svc", R"({"M":"echo","P1":"ok"})").status, 200u);
  EXPECT_EQ(c.Post("/svc", R"({"M":"zr"})").status, 400u);
  EXPECT_EQ(c.Post("/svc", R"({"M":"slow","P1":30})").status, 200u);
  EXPECT_EQ(c.Post("/svc", R"({"M":"a\"b"})").status, 200u);   // label escaped
  EXPECT_EQ(c.Post("/svc", R"({"M":"\u0001x"})").status, 200u);  // not printable: other
  EXPECT_EQ(c.Post("/svc", "[]").status, 400u);                  // no M at all: other
  EXPECT_EQ(c.Post("/nowhere", "{}").status, 404u);
  ZRM_CountError("db", 0x80004005u);
  ZRM_CountError("db", 0x80004005u);

  const auto answer = c.Send(verb::get, "/metrics", "");
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(answer.content_type, "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_NE(answer.body.find("# TYPE vqsrv_request_duration_seconds histogram"),
            std::string::npos);
  auto after = ParseSamples(answer.body);
  auto delta = [&](const std::string& key) { return Get(after, key) - Get(before, key); };

  EXPECT_EQ(delta(R"(vqsrv_requests_total{command="echo",outcome="ok"})"), 3);
  EXPECT_EQ(delta(R"(vqsrv_requests_total{command="zr",outcome="client_error"})"), 1);
  EXPECT_EQ(delta(R"(vqsrv_requests_total{command="a\"b",outcome="ok"})"), 1);
  EXPECT_EQ(delta(R"(vqsrv_requests_total{command="other",outcome="ok"})"), 1);
  EXPECT_EQ(delta(R"(vqsrv_requests_total{command="other",outcome="client_error"})"), 1);
  EXPECT_EQ(delta(R"(vqsrv_http_responses_total{code="404"})"), 1);
  // 3 echo, slow, a"b, the unprintable one, and the first scrape itself.
  EXPECT_EQ(delta(R"(vqsrv_http_responses_total{code="200"})"), 7);
  EXPECT_EQ(delta(R"(vqsrv_db_errors_total{hresult="0x80004005"})"), 2);
  EXPECT_EQ(Get(after, "vqsrv_requests_in_flight"), 0);
  EXPECT_GT(delta("vqsrv_http_received_bytes_total"), 200);
  EXPECT_GT(delta("vqsrv_http_sent_bytes_total"), 200);

  // The slow request: above 25 ms, within 50 ms bucket, counted once.
  EXPECT_EQ(delta(R"(vqsrv_request_duration_seconds_count{command="slow"})"), 1);
  EXPECT_EQ(delta(R"(vqsrv_request_duration_seconds_bucket{command="slow",le="0.025"})"), 0);
  EXPECT_EQ(delta(R"(vqsrv_request_duration_seconds_bucket{command="slow",le="+Inf"})"), 1);
  EXPECT_GE(delta(R"(vqsrv_request_duration_seconds_sum{command="slow"})"), 0.029);
  // Buckets are cumulative.
  EXPECT_EQ(delta(R"(vqsrv_request_duration_seconds_bucket{command="echo",le="+Inf"})"), 3);
  EXPECT_LE(delta(R"(vqsrv_request_duration_seconds_bucket{command="echo",le="0.0005"})"), 3);
}

TEST(ZrmMetrics, CommandLabels) {
  const std::string ok = "query", long_one(33, 'q'), tab = "a\tb";
  EXPECT_EQ(ZRM_CommandLabel(&ok), "query");
  EXPECT_EQ(ZRM_CommandLabel(nullptr), "other");
  EXPECT_EQ(ZRM_CommandLabel(&long_one), "other");
  EXPECT_EQ(ZRM_CommandLabel(&tab), "other");
  // Distinct names beyond the table's size fold into "other".
  for (unsigned i = 0; i < kZrmMaxCommandLabels + 5; ++i)
    ZRM_MetricsRequest("cmd" + std::to_string(i), 200, 0.001);
  const std::string text = ZRM_MetricsText();
  EXPECT_EQ(text.find("command=\"cmd" + std::to_string(kZrmMaxCommandLabels + 4) + "\""),
            std::string::npos);
  EXPECT_NE(text.find("command=\"cmd0\""), std::string::npos);
}

// The families in their fixed order, each announced by HELP then TYPE, its
// samples right after; errors of other kinds in a family of their own.
TEST(ZrmMetrics, FamiliesInOrder) {
  ZRM_MetricsCommandName("layout");  // a declared name: room even after a flood
  ZRM_MetricsRequest("layout", 200, 0.002);
  ZRM_CountError("db", 0x8004FFFEu);
  ZRM_CountError("odd-kind", 7);
  const std::string text = ZRM_MetricsText();

  std::vector<std::string> families;
  std::istringstream in(text);
  std::string help;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("# HELP ", 0) == 0) {
      help = line.substr(7, line.find(' ', 7) - 7);
      families.push_back(help);
      continue;
    }
    if (line.rfind("# TYPE ", 0) == 0) {
      EXPECT_EQ(line.substr(7, help.size() + 1), help + " ") << "TYPE apart from its HELP: " << line;
      continue;
    }
    EXPECT_EQ(line.rfind(help, 0), 0u) << "sample outside its family " << help << ": " << line;
  }
  const std::vector<std::string> expected = {
      "vqsrv_requests_total",        "vqsrv_request_duration_seconds",  "vqsrv_requests_in_flight",
      "vqsrv_http_received_bytes_total", "vqsrv_http_sent_bytes_total", "vqsrv_http_responses_total",
      "vqsrv_db_errors_total",       "vqsrv_errors_total"};
  EXPECT_EQ(families, expected);

  EXPECT_NE(text.find("vqsrv_db_errors_total{hresult=\"0x8004FFFE\"} 1\n"), std::string::npos);
  EXPECT_NE(text.find("vqsrv_errors_total{kind=\"odd_kind\",code=\"0x00000007\"} 1\n"),
            std::string::npos);
  // One command's histogram: every bucket, then its sum and count.
  const std::string bucket = "vqsrv_request_duration_seconds_bucket{command=\"layout\",le=\"";
  const size_t first = text.find(bucket);
  ASSERT_NE(first, std::string::npos);
  const std::string tail = "vqsrv_request_duration_seconds_bucket{command=\"layout\",le=\"+Inf\"} 1\n"
                           "vqsrv_request_duration_seconds_sum{command=\"layout\"} 0.002\n"
                           "vqsrv_request_duration_seconds_count{command=\"layout\"} 1\n";
  const size_t last = text.find(tail);
  ASSERT_NE(last, std::string::npos) << text;
  size_t buckets = 0;
  for (size_t at = first; at <= last; at = text.find(bucket, at + 1)) ++buckets;
  EXPECT_EQ(buckets, std::size(kZrmDurationBounds) + 1);
}

TEST(ZrmMetrics, ReadyUntilDraining) {
  Running run(Vars{{"ZRM_THREADS", "2"}});
  HttpClient c(run.Address());
  const auto ready = c.Send(verb::get, "/readyz", "");
  EXPECT_EQ(ready.status, 200u);
  EXPECT_EQ(ready.body, R"({"status":"ready"})");

  // A slow request keeps the drain open; a readiness probe that had begun
  // arriving before the stop is answered 503.
  std::string slow_answer;
  std::thread slow([&] {
    slow_answer = vqtest::PostOnce(run.Address(), "/svc", R"({"M":"slow","P1":600})").body;
  });
  HttpClient probe(run.Address());
  probe.WriteRaw("GET /readyz HTTP/1.1\r\nHost: x\r\n");
  ASSERT_TRUE(vqtest::WaitUntil([&] { return vqtest::RequestsInFlight(run.Address()) >= 1; }, 5s));
  // The test input: the probe's first bytes reach the server before the
  // stop, the rest after it has begun; nothing the server serves tells when
  // it read them, so time separates the two.
  std::this_thread::sleep_for(100ms);
  run.server.Shutdown();
  std::this_thread::sleep_for(100ms);
  probe.WriteRaw("\r\n");
  const auto draining = probe.Read();
  EXPECT_EQ(draining.status, 503u);
  EXPECT_EQ(draining.body, R"({"status":"draining"})");
  EXPECT_FALSE(draining.keep_alive);
  slow.join();
  EXPECT_EQ(slow_answer, "\"done\"");
}

}  // namespace
