// The reference program's HTTP mode: the work of one small "query" done
// straight through ODBC, but received and answered over HTTP/1.1 the way
// vqsrv is, so both sides pay for the same load generator on the same cores.
#pragma once

#include <sql.h>

#include <memory>
#include <string>

namespace bench {

struct ServeOptions {
  std::string dsn;
  std::string sql;           // the statement when a request carries no "P2"
  unsigned short port = 0;   // 0: any free port (see HttpReference::Port)
  int threads = 1;           // worker threads, one ODBC connection each
  bool names = false;        // read the column names too, as "querydbg" does
  bool reuse = true;         // keep each thread's connection between requests
  bool stop_on_signals = false;  // SIGINT / SIGTERM end Wait()
};

// A minimal keep-alive HTTP/1.1 server on 127.0.0.1. Every POST body is read
// as JSON; its "P2" (or the configured statement) is run and the cells come
// back as {"Status":true,"Results":"<cells joined by |>"}.
class HttpReference {
 public:
  // Binds the port; throws boost::system::system_error when it cannot.
  HttpReference(SQLHENV env, ServeOptions options);
  ~HttpReference();  // stops and joins the workers
  HttpReference(const HttpReference&) = delete;
  HttpReference& operator=(const HttpReference&) = delete;

  unsigned short Port() const;
  void Start();  // starts the worker threads and returns
  void Stop();   // asks the workers to end; Wait() then returns
  void Wait();   // joins the workers

  struct State;  // defined and used only by the implementation

 private:
  std::unique_ptr<State> state_;
};

}  // namespace bench
