// vqsoak: many keep-alive connections send mixed requests (one in twenty
// malformed) to a running vqsrv on loopback for a bounded time, check every
// answer exactly, and compare the server's resident memory after warm-up
// with its level at the end.
//
//   vqsoak --port P --pid PID --dsn NAME [--seconds 60] [--connections 32]
//          [--max-body 1048576] [--rss-margin 10] [--only extr|elem|...]
// Exit 0 when every answer was right and memory stayed within the margin.
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <rapidjson/document.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "soak_cases.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;
using Clock = std::chrono::steady_clock;

struct Options {
  unsigned short port = 0;
  long pid = 0;
  std::string dsn;
  int seconds = 60;
  int connections = 32;
  uint64_t max_body = 1048576;
  double rss_margin = 10.0;  // percent
  std::optional<soak::Kind> only_kind;  // one kind of request only (to find what a problem follows)
};

// What went wrong, by kind of request, with the first few details kept.
struct Tally {
  std::mutex mutex;
  std::map<std::string, uint64_t> sent;
  std::map<std::string, uint64_t> failures;
  std::vector<std::string> details;

  void Sent(soak::Kind kind) {
    std::lock_guard<std::mutex> lock(mutex);
    ++sent[soak::KindName(kind)];
  }
  void Fail(soak::Kind kind, const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex);
    ++failures[soak::KindName(kind)];
    if (details.size() < 20) details.push_back(std::string(soak::KindName(kind)) + ": " + what);
  }
};

long ResidentKb(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Empty when the answer is right, otherwise what is wrong with it.
std::string Verify(const soak::Case& c, const http::response<http::string_body>& res) {
  if (static_cast<int>(res.result_int()) != c.status) {
    return "status " + std::to_string(res.result_int()) + ", wanted " + std::to_string(c.status) +
           " (" + res.body().substr(0, 200) + ") for " + c.body.substr(0, 200);
  }
  if (c.check_exact) {
    if (res.body() != c.expected) return "body " + res.body() + ", wanted " + c.expected + " for " + c.body;
    return "";
  }
  rapidjson::Document doc;
  doc.Parse(res.body().c_str(), res.body().size());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("error") || !doc["error"].IsObject() ||
      !doc["error"].HasMember("type") || !doc["error"]["type"].IsString() ||
      c.expected != doc["error"]["type"].GetString()) {
    return "error body " + res.body() + ", wanted type " + c.expected;
  }
  return "";
}

void Worker(const Options& opt, unsigned seed, Clock::time_point until, Tally& tally,
            std::atomic<uint64_t>& total) {
  std::mt19937 rng(seed);
  boost::asio::io_context io;
  std::optional<tcp::socket> socket;
  beast::flat_buffer buffer;
  const tcp::endpoint server(boost::asio::ip::make_address("127.0.0.1"), opt.port);
  static constexpr soak::Kind kGood[] = {soak::Kind::Extr, soak::Kind::Elem, soak::Kind::Unknown,
                                         soak::Kind::Open, soak::Kind::Query, soak::Kind::QueryDbg};
  static constexpr soak::Kind kBad[] = {soak::Kind::BadJson, soak::Kind::WrongType,
                                        soak::Kind::MissingKey, soak::Kind::Oversized,
                                        soak::Kind::WrongPath};
  for (uint64_t n = 0; Clock::now() < until; ++n) {
    soak::Kind kind = n % 20 == 19 ? kBad[rng() % std::size(kBad)] : kGood[rng() % std::size(kGood)];
    if (opt.only_kind) kind = *opt.only_kind;
    const soak::Case c = soak::MakeCase(kind, opt.dsn, rng, opt.max_body);
    tally.Sent(kind);
    ++total;
    try {
      if (!socket) {
        socket.emplace(io);
        socket->connect(server);
        buffer.clear();
      }
      http::request<http::string_body> req{http::verb::post, c.target, 11};
      req.set(http::field::host, "127.0.0.1");
      req.set(http::field::content_type, "application/json");
      req.keep_alive(true);
      if (c.declared_length != 0) {
        // Only the header: the server must refuse the size before any body.
        std::string head = "POST " + c.target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                           "Content-Type: application/json\r\nContent-Length: " +
                           std::to_string(c.declared_length) + "\r\n\r\n";
        boost::asio::write(*socket, boost::asio::buffer(head));
      } else {
        req.body() = c.body;
        req.prepare_payload();
        http::write(*socket, req);
      }
      http::response_parser<http::string_body> parser;
      parser.body_limit(16 * 1024 * 1024);
      http::read(*socket, buffer, parser);
      const auto& res = parser.get();
      const std::string wrong = Verify(c, res);
      if (!wrong.empty()) tally.Fail(kind, wrong);
      if (!res.keep_alive() || c.declared_length != 0) socket.reset();
    } catch (const std::exception& e) {
      tally.Fail(kind, std::string("transport: ") + e.what());
      socket.reset();
    }
  }
}

bool ParseArgs(int argc, char** argv, Options& opt) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const char* v = argv[i + 1];
    if (key == "--port") opt.port = static_cast<unsigned short>(std::atoi(v));
    else if (key == "--pid") opt.pid = std::atol(v);
    else if (key == "--dsn") opt.dsn = v;
    else if (key == "--seconds") opt.seconds = std::atoi(v);
    else if (key == "--connections") opt.connections = std::atoi(v);
    else if (key == "--max-body") opt.max_body = std::strtoull(v, nullptr, 10);
    else if (key == "--rss-margin") opt.rss_margin = std::atof(v);
    else if (key == "--only") {
      for (int k = 0; k < static_cast<int>(soak::Kind::kCount); ++k) {
        if (std::strcmp(v, soak::KindName(static_cast<soak::Kind>(k))) == 0)
          opt.only_kind = static_cast<soak::Kind>(k);
      }
      if (!opt.only_kind) return false;
    }
    else return false;
  }
  // Bounded: at most a minute, at least a few seconds for a warm-up.
  return opt.port != 0 && opt.pid > 0 && !opt.dsn.empty() && opt.seconds >= 4 && opt.seconds <= 60 &&
         opt.connections >= 1 && opt.connections <= 256;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (argc % 2 == 0 || !ParseArgs(argc, argv, opt)) {
    std::cerr << "usage: vqsoak --port P --pid PID --dsn NAME [--seconds 4..60] [--connections N]"
                 " [--max-body BYTES] [--rss-margin PERCENT] [--only KIND]\n";
    return 2;
  }
  Tally tally;
  std::atomic<uint64_t> total{0};
  const auto start = Clock::now();
  const auto until = start + std::chrono::seconds(opt.seconds);
  std::vector<std::thread> workers;
  for (int i = 0; i < opt.connections; ++i) {
    workers.emplace_back(Worker, std::cref(opt), 1000u + static_cast<unsigned>(i), until,
                         std::ref(tally), std::ref(total));
  }
  // Warm-up: a quarter of the run; the server's pools and caches fill.
  std::this_thread::sleep_until(start + std::chrono::seconds(opt.seconds) / 4);
  const long rss_before = ResidentKb(opt.pid);
  const uint64_t at_warm = total.load();
  for (auto& t : workers) t.join();
  const long rss_after = ResidentKb(opt.pid);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  uint64_t failures = 0;
  std::printf("soak: %d connections, %.1f s, %llu requests (%llu after warm-up), %.0f per second\n",
              opt.connections, elapsed, static_cast<unsigned long long>(total.load()),
              static_cast<unsigned long long>(total.load() - at_warm), total.load() / elapsed);
  std::printf("%-12s %10s %10s\n", "kind", "sent", "wrong");
  for (int k = 0; k < static_cast<int>(soak::Kind::kCount); ++k) {
    const char* name = soak::KindName(static_cast<soak::Kind>(k));
    const uint64_t wrong = tally.failures[name];
    failures += wrong;
    std::printf("%-12s %10llu %10llu%s\n", name, static_cast<unsigned long long>(tally.sent[name]),
                static_cast<unsigned long long>(wrong),
                soak::IsMalformed(static_cast<soak::Kind>(k)) ? "  (malformed)" : "");
  }
  for (const auto& d : tally.details) std::printf("  wrong: %s\n", d.c_str());
  const double growth = rss_before > 0 ? 100.0 * (rss_after - rss_before) / rss_before : 0.0;
  std::printf("server VmRSS: %ld kB after warm-up, %ld kB at the end (%+.1f %%, allowed %.1f %%)\n",
              rss_before, rss_after, growth, opt.rss_margin);
  bool ok = true;
  if (failures != 0) {
    std::printf("soak: FAILED, %llu wrong answers\n", static_cast<unsigned long long>(failures));
    ok = false;
  }
  if (rss_before <= 0 || rss_after <= 0) {
    std::printf("soak: FAILED, the server's memory could not be read (did it exit?)\n");
    ok = false;
  } else if (growth > opt.rss_margin) {
    std::printf("soak: FAILED, resident memory grew more than allowed\n");
    ok = false;
  }
  if (ok) std::printf("soak: passed\n");
  return ok ? 0 : 1;
}
