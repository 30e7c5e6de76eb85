// A test server with scripted request operations, bound as "svc" with its
// event loop on a thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "platform/middleware/zrm.h"
#include "platform/middleware/zrm_config.h"
#include "tests/support/wait_until.h"

namespace zrm_test {

using namespace std::chrono_literals;

using Vars = std::map<std::string, std::string>;
inline std::atomic<int> g_meeting{0};
inline std::mutex g_wait_mutex;
inline std::string g_wait_outcome;  // of the last "wait" request
inline std::atomic<int> g_waits_begun{0};  // "wait" requests that got inside

class TestServer : public ZRM_TServer {
 public:
  void HandleRequest(const ZR_TDict& request, ZR_TAny& reply) override {
    const ZR_TString& m = ZR_Fetch<ZR_TString>(request, "M", "ZR_TString");
    if (m == "echo") {
      reply = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
    } else if (m == "zr") {
      throw ZR_EException("no good");
    } else if (m == "meet") {
      // Answers true only when another request is inside at the same time.
      ++g_meeting;
      vqtest::WaitUntil([] { return g_meeting.load() >= 2; }, 5s, 1ms);
      reply = ZR_TAny(g_meeting.load() >= 2);
    } else if (m == "trace") {
      DBG_Type(1, "one");
      DBG_Type(2, ZR_TString("two"));
      DBG_Type(1, std::string("ends\n"));
      reply = ZR_TAny(static_cast<int64_t>(ZRM_CurrentRequestNumber()));
    } else if (m == "big") {
      // A reply of P1 bytes.
      reply = ZR_TString(std::string(ZR_Fetch<uint32_t>(request, "P1", "ZR_TUInt32"), 'x'));
    } else if (m == "parts") {
      // {"Results": a JSON array of P1 numbers in parts of about 100 KiB, "Status": true}
      const uint32_t n = ZR_Fetch<uint32_t>(request, "P1", "ZR_TUInt32");
      std::vector<std::string> parts{"["};
      for (uint32_t i = 0; i < n; ++i) {
        if (parts.back().size() > 100000) parts.emplace_back();
        parts.back() += (i ? "," : "") + std::to_string(i);
      }
      parts.back() += "]";
      ZR_TDict d;
      d.Add("Results", ZR_TAny(ZR_TJsonText(std::move(parts))));
      d.Add("Status", ZR_TAny(true));
      reply = std::move(d);
    } else if (m == "refuse") {
      // Finds its reply too large while building it.
      throw ZRM_EReplyTooLarge();
    } else if (m == "wait") {
      // Waits up to P1 ms for the middleware to give the request up, and
      // replies (and keeps in g_wait_outcome) "done" or why it was given up.
      std::mutex mutex;
      std::condition_variable cv;
      std::string outcome = "done";
      {
        ZRM_CancelWatch watch([&](ZRM_CancelReason why) {
          std::lock_guard<std::mutex> lock(mutex);
          outcome = why == ZRM_CancelReason::kClientGone ? "client_gone" : "shutdown";
          cv.notify_all();
        });
        ++g_waits_begun;
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::milliseconds(ZR_Fetch<uint32_t>(request, "P1", "ZR_TUInt32")),
                    [&] { return outcome != "done"; });
      }
      {
        std::lock_guard<std::mutex> lock(g_wait_mutex);
        g_wait_outcome = outcome;
      }
      DBG_Type(1, "wait: " + outcome);
      reply = ZR_TString(outcome);
    } else if (m == "slow") {
      // The test input: a request operation that takes P1 ms.
      std::this_thread::sleep_for(std::chrono::milliseconds(
          ZR_Fetch<uint32_t>(request, "P1", "ZR_TUInt32")));
      reply = ZR_TString("done");
    }
  }
};

// Binds a TestServer as "svc" under the given variables and runs its loop
// on a thread of its own.
class Running {
 public:
  explicit Running(std::map<std::string, std::string> vars, int timeout_ms = -1) {
    for (const char* v : {"ZRM_LISTEN", "ZRM_THREADS", "ZRM_DEBUG", "ZRM_TRACE",
                          "ZRM_MAX_BODY", "ZRM_TOKEN", "ZRM_READ_TIMEOUT_MS",
                          "ZRM_IDLE_TIMEOUT_MS", "ZRM_MAX_CONNECTIONS", "ZRM_MAX_REPLY",
                          "ZRM_MAX_HEADER", "ZRM_DRAIN_TIMEOUT_MS", "ZRM_DRAIN_GRACE_MS",
                          "ZRM_METRICS_PUBLIC", "ZRM_CONSOLE"})
      unsetenv(v);
    vars.emplace("ZRM_LISTEN", "127.0.0.1:0");
    for (const auto& [k, v] : vars) setenv(k.c_str(), v.c_str(), 1);
    ZRM_ReloadConfig();
    server.Bind(ZR_TString("svc"), 1, 0, false);
    server.SetTimeOut(timeout_ms);
    loop = std::thread([this] { server.EventLoop(); });
  }
  ~Running() {
    server.Shutdown();
    if (loop.joinable()) loop.join();
  }
  std::string Address() const { return server.ListenAddress(); }

  TestServer server;
  std::thread loop;
};

}  // namespace zrm_test
