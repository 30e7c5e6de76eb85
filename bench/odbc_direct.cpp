// Reference program for the benchmark: the work of one "query" request done
// straight through ODBC, without the data-object layer. Two references for
// the small requests: "loop" runs the work bare (no HTTP, no JSON), "serve"
// answers it over HTTP so it shares the machine with the load generator as
// vqsrv does.
//
//   odbc_direct loop DSN SQL THREADS SECONDS reuse|fresh [names]
//     THREADS workers repeat the request for SECONDS and the program prints
//     "requests/s <n>". "reuse" keeps one connection per worker (what a
//     connection pool gives), "fresh" connects and disconnects every time.
//     "names" also reads every column name, as "querydbg" does.
//   odbc_direct serve DSN SQL PORT THREADS [names] [fresh]
//     A keep-alive HTTP/1.1 server on 127.0.0.1:PORT (0: any free port),
//     THREADS worker threads each keeping one connection (or connecting
//     afresh per request with "fresh"). Every POST body is parsed as JSON,
//     its "P2" (else SQL) is run and the cells come back as
//     {"Status":true,"Results":"<cells>"}. Prints "listening <port>" and
//     serves until SIGINT or SIGTERM.
//   odbc_direct rows DSN SQL
//     One request: connect, execute, fetch every cell as text with
//     SQLGetData, join the cells with "|" into one line, disconnect. Writes
//     the line to standard output and "elapsed_ms <n>" to standard error.
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "bench/odbc_http.h"
#include "bench/odbc_work.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: odbc_direct loop DSN SQL THREADS SECONDS reuse|fresh [names]\n"
               "       odbc_direct serve DSN SQL PORT THREADS [names] [fresh]\n"
               "       odbc_direct rows DSN SQL\n"
               "loop: the request work bare, THREADS threads, no HTTP; prints requests/s\n"
               "serve: the same work answered over HTTP on 127.0.0.1:PORT, for wrk\n"
               "rows: one request over every row, timed\n");
  return 2;
}

int RunLoop(SQLHENV env, const std::string& dsn, const std::string& sql, int threads,
            double seconds, bool reuse, bool names) {
  std::atomic<bool> stop{false};
  std::atomic<long> done{0};
  std::atomic<bool> failed{false};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      bench::Connection kept;
      std::string out;
      long count = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        out.clear();
        bool ok;
        if (reuse) {
          if (!kept.Handle() && !kept.Open(env, dsn)) {
            failed = true;
            break;
          }
          ok = bench::RunStatement(kept.Handle(), sql, names, out);
        } else {
          bench::Connection fresh;
          ok = fresh.Open(env, dsn) && bench::RunStatement(fresh.Handle(), sql, names, out);
        }
        if (!ok) {
          failed = true;
          break;
        }
        ++count;
      }
      done += count;
    });
  }
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& w : workers) w.join();
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (failed) return 1;
  std::printf("requests/s %.1f\n", static_cast<double>(done.load()) / elapsed);
  return 0;
}

int RunRows(SQLHENV env, const std::string& dsn, const std::string& sql) {
  const auto start = std::chrono::steady_clock::now();
  std::string line;
  {
    bench::Connection c;
    if (!c.Open(env, dsn) || !bench::RunStatement(c.Handle(), sql, false, line)) return 1;
  }
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fprintf(stderr, "elapsed_ms %.1f\n", ms);
  return 0;
}

int RunServe(SQLHENV env, char** argv, int argc) {
  bench::ServeOptions options;
  options.dsn = argv[2];
  options.sql = argv[3];
  char* end = nullptr;
  const long port = std::strtol(argv[4], &end, 10);
  if (*end != '\0' || port < 0 || port > 65535) return Usage();
  options.port = static_cast<unsigned short>(port);
  options.threads = std::atoi(argv[5]);
  if (options.threads < 1 || options.threads > 1024) return Usage();
  for (int i = 6; i < argc; ++i) {
    if (std::strcmp(argv[i], "names") == 0) options.names = true;
    else if (std::strcmp(argv[i], "fresh") == 0) options.reuse = false;
    else return Usage();
  }
  options.stop_on_signals = true;
  try {
    bench::HttpReference server(env, options);
    server.Start();
    std::printf("listening %u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    server.Wait();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "odbc_direct: cannot serve on 127.0.0.1:%ld: %s\n", port, e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return Usage();
  const std::string mode = argv[1];
  bench::Environment env;
  if (!env.Handle()) {
    std::fprintf(stderr, "odbc_direct: no ODBC environment\n");
    return 1;
  }
  if (mode == "rows" && argc == 4) return RunRows(env.Handle(), argv[2], argv[3]);
  if (mode == "serve" && argc >= 6 && argc <= 8) return RunServe(env.Handle(), argv, argc);
  if (mode == "loop" && (argc == 7 || argc == 8)) {
    const int threads = std::atoi(argv[4]);
    const double seconds = std::atof(argv[5]);
    const std::string pooling = argv[6];
    const bool names = argc == 8 && std::strcmp(argv[7], "names") == 0;
    if (threads < 1 || threads > 1024 || !(seconds > 0) || (pooling != "reuse" && pooling != "fresh"))
      return Usage();
    return RunLoop(env.Handle(), argv[2], argv[3], threads, seconds, pooling == "reuse", names);
  }
  return Usage();
}
