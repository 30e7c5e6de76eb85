// Middleware server framework: a server object binds a service name and the
// event loop hands it each client request.
//
// Transport: HTTP/1.1 with keep-alive. A server bound under NAME serves
// POST /NAME with a JSON object as the body; the reply value comes back as
// the JSON body. Configuration comes from ZRM_ environment variables, read
// once when the first server binds (see the README).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "platform/middleware/zrm_tracer.h"
#include "platform/types/zr.h"

// One client connection, as the server's connection hooks see it.
class ZRM_TSocket {
 public:
  ZRM_TSocket(uint64_t id, std::string peer) : id_(id), peer_(std::move(peer)) {}
  uint64_t Id() const { return id_; }
  const std::string& Peer() const { return peer_; }  // "address:port"

 private:
  uint64_t id_;
  std::string peer_;
};

class ZRM_TServer : public ZR_TObject, public ZRM_TTracer {
 public:
  ZRM_TServer();
  ~ZRM_TServer() override;  // ends the binding
  ZRM_TServer(const ZRM_TServer&) = delete;
  ZRM_TServer& operator=(const ZRM_TServer&) = delete;

  // Virtual operations, in their fixed order.
  // Ends the event loop as SIGTERM does: stop accepting, finish the running
  // requests, return from EventLoop.
  virtual void Shutdown();
  virtual void SetDebugLevel(int level);
  // Write one trace record as it is (no level test, no prefix).
  virtual void DBG_Type(const std::string& record) const;
  virtual void DBG_Type(const ZR_TString& record) const;
  virtual void DBG_Type(const char* record) const;

 protected:
  virtual bool HandleEvent(int event);

 public:
  // The request operation. Called once per request, possibly on several
  // threads at once. An exception that leaves it is answered to the client
  // (ZR_EException: 400; anything else: 500) and the loop goes on.
  virtual void HandleRequest(const ZR_TDict& request, ZR_TAny& reply);

 protected:
  virtual void ConnectionAdded(const ZRM_TSocket& socket);
  virtual void ConnectionDropped(const ZRM_TSocket& socket);
  virtual bool AllowExit();

 public:
  // Makes the server reachable under name. The numbers and the flag are
  // kept but have no effect on this transport. Throws ZR_EException when the
  // name is bound already in this process or the listening address cannot
  // be bound; the message names the service, the address and the reason.
  void Bind(const ZR_TString& name, unsigned short a, unsigned short b, bool flag);
  // Idle time-out of the loop in milliseconds; -1: none.
  void SetTimeOut(int milliseconds);
  // Serves until SIGINT, SIGTERM or Shutdown(), then stops accepting, lets
  // running requests finish and returns.
  void EventLoop();

  // The leveled trace (ZRM_TTracer).
  bool OnDebugLevel(int level) const override;
  void DBG_Type(int level, const char* text) const override;
  void DBG_Type(int level, const ZR_TString& text) const override;
  void DBG_Type(int level, const std::string& text) const override;

  // Serves body on GET path (for example "/" or "/app.js") with the given
  // content type while the server is bound. Page answers carry headers that
  // let a browser run only scripts and styles of the same origin. open:
  // answered without the ZRM_TOKEN bearer token; only for content that is
  // the same in every installation and holds no data. ZRM_CONSOLE=0 turns
  // every page off (404). Throws ZR_EException when the server is not
  // bound, the path does not begin with "/", is /healthz, /readyz or
  // /metrics, or another server published it.
  void PublishPage(const std::string& path, const std::string& content_type, std::string body,
                   bool open);

  // The listening address after Bind ("127.0.0.1:7400"), with the port
  // actually bound (useful when ZRM_LISTEN asks for port 0).
  std::string ListenAddress() const;

  static const ZR_TClass& ZR_ClassObject();
  void* ZR_DynamicInfo(const char* name) const override;

 private:
  struct Impl;
  Impl* impl_;
};

// Number of the request the calling thread is running (0 outside a request).
uint64_t ZRM_CurrentRequestNumber();

// The largest reply body in bytes (ZRM_MAX_REPLY).
uint64_t ZRM_MaxReply();

// Thrown by a request operation that finds, while building its reply, that
// the reply will pass ZRM_MAX_REPLY: the client gets the same 500
// "ReplyTooLarge" as for a reply found too large after the operation,
// without the whole reply being built first.
class ZRM_EReplyTooLarge : public std::exception {
 public:
  const char* what() const noexcept override { return "the reply is larger than ZRM_MAX_REPLY"; }
};

// Why nobody waits for a running request any more.
enum class ZRM_CancelReason {
  kClientGone,  // the client's connection closed (read end closed, or reset)
  kShutdown,    // the drain time after a stop signal ran out
};

struct ZRM_RunningRequest;

// Lets a request operation hear that its result is no longer wanted, so it
// can stop work it has started elsewhere (a database statement). Made on the
// thread that runs the request operation; on_cancel is called at most once,
// on a thread of its own (it may block), and never after the destructor has
// returned: the destructor waits for a call in progress. A request whose
// client left gets no answer. Outside a request of the event loop, and while
// another watch of the same request lives, a watch does nothing.
class ZRM_CancelWatch {
 public:
  explicit ZRM_CancelWatch(std::function<void(ZRM_CancelReason)> on_cancel);
  ~ZRM_CancelWatch();
  ZRM_CancelWatch(const ZRM_CancelWatch&) = delete;
  ZRM_CancelWatch& operator=(const ZRM_CancelWatch&) = delete;

 private:
  ZRM_RunningRequest* request_ = nullptr;  // null: inert
  uint64_t serial_ = 0;
};

// Adds metric families to every GET /metrics answer: text appends complete
// families (# HELP, # TYPE and samples) in the Prometheus text format. Called
// at each scrape on the thread that answers it, one scrape at a time.
void ZRM_AddMetricsSource(std::function<void(std::string& out)> text);

// Counts one error for GET /metrics. kind "db" with an HRESULT feeds
// vqsrv_db_errors_total{hresult="0x80004005"}; other kinds (letters, digits,
// '_') are counted under vqsrv_errors_total{kind,code}. Thread-safe. A
// "db" error counted by a request operation also counts its request as
// outcome "db_error" in vqsrv_requests_total; its HTTP status stays 200.
void ZRM_CountError(const char* kind, uint32_t code);

// Declares a command name the server serves (a request's "M"): it keeps
// its own label in GET /metrics however many other names clients send.
// Thread-safe; declaring a name twice changes nothing.
void ZRM_MetricsCommandName(const char* name);

// Module initialisation of the middleware: non-zero once the module is
// ready; a call after a failure tries again.
extern "C" bool __ZR_INITIALIZATION_FUNCTION_VERArid__();
