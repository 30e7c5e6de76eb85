// The vqsrv process over HTTP: commands, failures, trace, start-up failure,
// termination under load, signals (hangup, trace rotation) and many clients
// at once.
#include <signal.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/http_client.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/vqsrv_process.h"
#include "tests/support/wait_until.h"

namespace {

using boost::beast::http::verb;
using vqtest::HttpClient;
using vqtest::ScratchDir;
using vqtest::VqsrvProcess;
using vqtest::WaitUntil;
using namespace std::chrono_literals;

const char kPath[] = "/ZIDozeve";

TEST(VqsrvProcess, CommandsOverHttp) {
  VqsrvProcess p(vqtest::CallerEnv({{"ZRM_MAX_BODY", "4096"}}));
  ASSERT_TRUE(p.WaitReady());
  HttpClient c(p.Address());
  auto ask = [&](const std::string& body) { return c.Post(kPath, body).body; };

  EXPECT_EQ(ask(R"({"M":"extr","P1":"abcdef","P2":2,"P3":3})"), "\"cde\"");
  EXPECT_EQ(ask(R"({"M":"extr","P1":"abcdef","P2":2})"), "\"cdef\"");
  EXPECT_EQ(ask(R"({"M":"extr","P1":"abcdef","P2":0})"), "\"abcdef\"");
  EXPECT_EQ(ask(R"({"M":"extr","P1":"abcdef","P2":10})"), "\"\"");
  EXPECT_EQ(ask("{\"M\":\"extr\",\"P1\":\"gr\xC3\xBC\xC3\x9F gott\",\"P2\":2,\"P3\":2}"),
            "\"\xC3\xBC\xC3\x9F\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"a,b,c","P2":",","P3":1})"), "\"b\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"a,,c","P2":",","P3":1})"), "\"\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"a,b,","P2":",","P3":2})"), "\"\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"abc","P2":",","P3":0})"), "\"abc\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"a,b","P2":",","P3":5})"), "\"\"");
  EXPECT_EQ(ask(R"({"M":"elem","P1":"a,b","P2":",","P3":2147483648})"), "\"\"");
  EXPECT_EQ(ask("{\"M\":\"elem\",\"P1\":\"\xC3\xA4|\xC3\xB6\",\"P2\":\"|\",\"P3\":1}"),
            "\"\xC3\xB6\"");
  EXPECT_EQ(ask(R"({"M":"nope"})"), "null");
  EXPECT_EQ(ask(R"({"M":""})"), "null");

  auto a = c.Post(kPath, R"({"P1":"x"})");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("\"type\":\"ZR_EException\""), std::string::npos);
  EXPECT_NE(a.body.find("M"), std::string::npos);
  a = c.Post(kPath, R"({"M":"extr","P1":"abc","P2":"1"})");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("P2"), std::string::npos) << a.body;
  a = c.Post(kPath, R"({"M":"elem","P1":"abc","P2":"ab","P3":0})");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("P2"), std::string::npos) << a.body;
  a = c.Post(kPath, R"({"M":"extr",)");
  EXPECT_EQ(a.status, 400u);
  EXPECT_NE(a.body.find("BadRequest"), std::string::npos);
  EXPECT_EQ(c.Post("/elsewhere", "{}").status, 404u);
  EXPECT_EQ(c.Send(verb::put, kPath, "{}").status, 405u);
  EXPECT_EQ(c.Post(kPath, std::string(5000, ' ')).status, 413u);

  // Still serving after all of the failures.
  EXPECT_EQ(HttpClient(p.Address()).Post(kPath, R"({"M":"extr","P1":"ok","P2":0})").body, "\"ok\"");
}

std::vector<std::string> TraceLines(int level) {
  const ScratchDir dir("vqsrv-trace");
  const std::string path = dir.File("trace.log");
  {
    VqsrvProcess p(vqtest::CallerEnv({{"ZRM_DEBUG", std::to_string(level)}, {"ZRM_TRACE", path}}));
    EXPECT_TRUE(p.WaitReady());
    HttpClient c(p.Address());
    c.Post(kPath, R"({"M":"whatever"})");
    c.Post(kPath, R"({"M":""})");
    c.Post(kPath, R"({"M":"extr","P1":"abc","P2":1})");
    c.Post(kPath, R"({"P1":"no name"})");
    p.Signal(SIGTERM);
    EXPECT_EQ(p.Wait(), 0);
  }
  std::vector<std::string> lines;
  std::istringstream in(vqtest::ReadFile(path));
  for (std::string line; std::getline(in, line);)
    if (line.find(" L1 #0 ") == std::string::npos) lines.push_back(line);  // start-up notes
  return lines;
}

TEST(VqsrvProcess, TraceFileByLevel) {
  EXPECT_TRUE(TraceLines(0).empty());
  const auto lines = TraceLines(1);
  ASSERT_EQ(lines.size(), 3u);
  const std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z L1 #(\d+) (.*))");
  const char* texts[] = {"Process whatever", "Process ", "Process extr"};
  for (int i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, record)) << lines[i];
    EXPECT_EQ(m[1], std::to_string(i + 1));
    EXPECT_EQ(m[2], texts[i]);
  }
}

TEST(VqsrvProcess, TakenPortEndsAbnormallyWithTheException) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
  const unsigned short port = taken.local_endpoint().port();
  vqtest::VqsrvOptions options = vqtest::CallerEnv();
  options.port = port;
  VqsrvProcess p(options);
  ASSERT_TRUE(p.Started());
  const int status = p.Wait();
  ASSERT_NE(status, -1);
  EXPECT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(p.Output(), "ZR_EException: cannot bind service \"ZIDozeve\" to 127.0.0.1:" +
                            std::to_string(port) + ": Address already in use\n");
}

TEST(VqsrvProcess, SigtermUnderLoadAnswersAndExitsZero) {
  VqsrvProcess p(vqtest::CallerEnv());
  ASSERT_TRUE(p.WaitReady());
  std::atomic<int> answered{0}, wrong{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      try {
        HttpClient c(p.Address());
        for (int i = 0; i < 100000 && !stop; ++i) {
          const std::string word = "w" + std::to_string(t) + "_" + std::to_string(i);
          const auto a = c.Post(kPath, R"({"M":"extr","P1":")" + word + R"(","P2":0})");
          if (a.status != 200 || a.body != "\"" + word + "\"") ++wrong;
          ++answered;
          if (!a.keep_alive) return;  // the server closes after its answer
        }
      } catch (const std::exception&) {
        // The connection closed between two requests.
      }
    });
  }
  EXPECT_TRUE(WaitUntil([&] { return answered >= 200; }, 60s, 1ms));
  p.Signal(SIGTERM);
  const int status = p.Wait();
  stop = true;
  for (auto& t : clients) t.join();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(wrong, 0);
}

TEST(VqsrvProcess, HangupDuringASlowStatementAnswersItAndExitsZero) {
  const ScratchDir dir("vqsrv-e2e");
  const std::string ini = dir.Path() + "/odbc.ini";
  std::ofstream(ini) << "[slow]\nDriver=SQLite3\nDatabase=" << dir.Path() << "/slow.db\nTimeout=2000\n";
  const std::string trace = dir.Path() + "/trace.log";
  VqsrvProcess p(vqtest::CallerEnv(
      {{"ODBCINI", ini}, {"ZRM_DEBUG", "1"}, {"ZRM_TRACE", trace}, {"ZRM_DRAIN_TIMEOUT_MS", "10000"}}));
  ASSERT_TRUE(p.WaitReady());
  // A count that takes about a second here (sanitizer builds are many times
  // slower), measured on a smaller one first.
  auto count_sql = [](long n, const char* name) {
    return "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM c WHERE i < " +
           std::to_string(n) + ") SELECT count(*) AS " + name + " FROM c";
  };
  auto body_of = [](const std::string& sql) {
    return R"({"M":"query","P1":"slow","P2":")" + sql + R"(","P3":1})";
  };
  const long probe = 100000;
  const auto probe_start = std::chrono::steady_clock::now();
  ASSERT_EQ(HttpClient(p.Address()).Post(kPath, body_of(count_sql(probe, "probe"))).body,
            "\"" + std::to_string(probe) + "\"");
  const double probe_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - probe_start).count();
  const long n = std::clamp(static_cast<long>(probe / std::max(probe_s, 1e-3)), probe, 20000000L);
  const std::string body = body_of(count_sql(n, "slow_count"));
  HttpClient c(p.Address());
  c.WriteRaw("POST /ZIDozeve HTTP/1.1\r\nHost: x\r\nContent-Type: application/json\r\n"
             "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  // The statement runs once its trace line is out.
  const bool running = WaitUntil(
      [&] { return vqtest::ReadFile(trace).find("AS slow_count FROM c") != std::string::npos; }, 10s);
  ASSERT_TRUE(running) << vqtest::ReadFile(trace);
  const auto start = std::chrono::steady_clock::now();
  p.Signal(SIGHUP);
  const auto answer = c.Read();
  // Answered within the drain time; the exit itself may take a moment more
  // (a sanitizer build checks for leaks on the way out).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(answer.status, 200u);
  EXPECT_EQ(answer.body, "\"" + std::to_string(n) + "\"");
  const int status = p.Wait(std::chrono::seconds(15));
  ASSERT_NE(status, -1) << "still running long after the drain time";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// Under a steady load of "extr" requests (one trace line each) the trace file
// is renamed and vqsrv told to reopen it: no record is lost, doubled or torn.
TEST(VqsrvProcess, TraceFileRotatedUnderLoadKeepsEveryRecordOnce) {
  const ScratchDir dir("vqsrv-e2e");
  const std::string trace = dir.Path() + "/trace.log";
  const std::string rotated = trace + ".1";
  VqsrvProcess p(vqtest::CallerEnv({{"ZRM_DEBUG", "1"}, {"ZRM_TRACE", trace}, {"ZRM_THREADS", "2"}}));
  ASSERT_TRUE(p.WaitReady());
  std::atomic<int> answered{0}, wrong{0}, failed{0};
  std::atomic<bool> stop{false};
  std::vector<std::thread> clients;
  for (int t = 0; t < 4; ++t) {
    clients.emplace_back([&, t] {
      try {
        HttpClient c(p.Address());
        for (int i = 0; !stop; ++i) {
          const std::string word = "r" + std::to_string(t) + "_" + std::to_string(i);
          const auto a = c.Post(kPath, R"({"M":"extr","P1":")" + word + R"(","P2":1})");
          if (a.status != 200 || a.body != "\"" + word.substr(1) + "\"") ++wrong;
          ++answered;
        }
      } catch (const std::exception&) {
        ++failed;
      }
    });
  }
  auto wait_answered = [&](int n) { WaitUntil([&] { return answered >= n || failed != 0; }, 60s, 1ms); };
  wait_answered(1000);
  ASSERT_EQ(std::rename(trace.c_str(), rotated.c_str()), 0);
  p.Signal(SIGUSR1);
  const bool reopened = WaitUntil(
      [&] { return vqtest::ReadFile(trace).find("SIGUSR1: trace file reopened") != std::string::npos; }, 10s);
  wait_answered(answered + 1000);
  stop = true;
  for (auto& t : clients) t.join();
  p.Signal(SIGTERM);
  EXPECT_EQ(p.Wait(), 0);
  ASSERT_TRUE(reopened);
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0);

  const std::regex record(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z L1 #(\d+) (.*))");
  std::map<long, int> seen;  // request number -> records
  int in_old = 0, in_new = 0, notes = 0;
  for (const auto& [path, count] : {std::pair{rotated, &in_old}, std::pair{trace, &in_new}}) {
    std::istringstream in(vqtest::ReadFile(path));
    for (std::string line; std::getline(in, line);) {
      std::smatch m;
      if (!std::regex_match(line, m, record)) {
        ADD_FAILURE() << path << ": not a trace record: " << line;
        continue;
      }
      if (m[1] == "0") {  // the reopen note, or start-up notes (data sources) before it
        if (m[2] == "SIGUSR1: trace file reopened")
          ++notes;
        else
          EXPECT_TRUE(path == rotated && *count == 0) << path << ": " << line;
        continue;
      }
      EXPECT_EQ(m[2], "Process extr") << line;
      ++seen[std::stol(m[1])];
      ++*count;
    }
  }
  EXPECT_EQ(notes, 1);
  EXPECT_GT(in_old, 0);
  EXPECT_GT(in_new, 0);
  ASSERT_EQ(static_cast<int>(seen.size()), answered.load());
  for (const auto& [number, records] : seen) EXPECT_EQ(records, 1) << "request #" << number;
  EXPECT_EQ(seen.begin()->first, 1);
  EXPECT_EQ(seen.rbegin()->first, answered.load());
  std::cout << "records: " << in_old << " in the renamed file, " << in_new << " in the new one\n";
}

TEST(VqsrvProcess, ManyClientsGetTheirOwnAnswers) {
  VqsrvProcess p(vqtest::CallerEnv({{"ZRM_THREADS", "4"}}));
  ASSERT_TRUE(p.WaitReady());
  std::atomic<int> right{0};
  std::vector<std::thread> clients;
  for (int t = 0; t < 16; ++t) {
    clients.emplace_back([&, t] {
      HttpClient c(p.Address());
      for (int i = 0; i < 50; ++i) {
        const std::string text = "client" + std::to_string(t) + ",item" + std::to_string(i);
        const auto a = c.Post(kPath, R"({"M":"elem","P1":")" + text + R"(","P2":",","P3":1})");
        if (a.status == 200 && a.body == "\"item" + std::to_string(i) + "\"") ++right;
      }
    });
  }
  for (auto& t : clients) t.join();
  EXPECT_EQ(right, 16 * 50);
}

// Made-up command names fill the metrics labels up to their cap; the five
// commands still get their own label after that.
TEST(VqsrvProcess, CommandsKeepTheirMetricsLabelAfterManyMadeUpNames) {
  VqsrvProcess p(vqtest::CallerEnv());
  ASSERT_TRUE(p.WaitReady());
  HttpClient c(p.Address());
  for (int i = 0; i < 100; ++i)
    ASSERT_EQ(c.Post(kPath, R"({"M":"made)" + std::to_string(i) + R"("})").body, "null");
  EXPECT_EQ(c.Post(kPath, R"({"M":"extr","P1":"abc","P2":1})").status, 200u);
  EXPECT_EQ(c.Post(kPath, R"({"M":"elem","P1":"a,b","P2":",","P3":1})").status, 200u);
  EXPECT_EQ(c.Post(kPath, R"({"M":"query","P1":"x"})").status, 400u);  // no P2
  EXPECT_EQ(c.Post(kPath, R"({"M":"querydbg","P1":"x"})").status, 400u);
  EXPECT_EQ(c.Post(kPath, R"({"M":"open"})").status, 400u);
  const std::string text = c.Send(verb::get, "/metrics", "").body;
  for (const char* line : {R"(vqsrv_requests_total{command="extr",outcome="ok"} 1)",
                           R"(vqsrv_requests_total{command="elem",outcome="ok"} 1)",
                           R"(vqsrv_requests_total{command="query",outcome="client_error"} 1)",
                           R"(vqsrv_requests_total{command="querydbg",outcome="client_error"} 1)",
                           R"(vqsrv_requests_total{command="open",outcome="client_error"} 1)",
                           R"(vqsrv_requests_total{command="made0",outcome="ok"} 1)",
                           R"(vqsrv_requests_total{command="other",outcome="ok"} 36)"})
    EXPECT_NE(text.find(std::string(line) + "\n"), std::string::npos) << line << "\n" << text;
  EXPECT_EQ(text.find("command=\"made64\""), std::string::npos);
}

}  // namespace
