// VQ_TServer: construction and binding, request dispatch, and the class's
// registration with the class registry.
#include "srv/vq_server.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "platform/com/com.h"
#include "srv/console/console.h"
#include "srv/dsn_policy.h"
#include "srv/vq_cancel.h"
#include "srv/vq_metrics.h"
#include "srv/dsn_sources.h"

namespace {

// Undoes the call's CoInitialize once, however the command ends: request
// threads are pooled, so the per-thread count must never drift.
class ComCallScope {
 public:
  ComCallScope() { CoInitialize(nullptr); }  // result deliberately not examined
  ~ComCallScope() { CoUninitialize(); }
  ComCallScope(const ComCallScope&) = delete;
  ComCallScope& operator=(const ComCallScope&) = delete;
};

}  // namespace

VQ_TServer::VQ_TServer() {
  // Read before the port is bound: a bad VQ_DSNS or VQ_DSN_ATTRIBUTES stops
  // start-up with ZR_EException naming the variable.
  const VQ_TDsnPolicy& policy = VQ_DsnPolicy();
  VQ_RegisterMetrics();
  // The commands keep their own metrics label whatever names clients make up.
  for (const char* name : {"open", "query", "querydbg", "extr", "elem"}) ZRM_MetricsCommandName(name);
  Bind(ZR_TString("ZIDozeve", 0xFFFFFFFF), 1, 0, false);
  VQ_PublishConsole(*this, policy);
  // Which DSNs are served from which file; mistakes (a DSN whose settings
  // would not reach its driver, a VQ_DSNS name found nowhere, a file that
  // cannot be read) also on standard error, whatever the trace level.
  for (const VQ_TDsnSources::Line& line : VQ_DsnSources().Describe(policy)) {
    DBG_Type(1, line.text);
    if (line.problem) std::fprintf(stderr, "vqsrv: %s\n", line.text.c_str());
  }
}

VQ_TServer::~VQ_TServer() = default;

void VQ_TServer::HandleRequest(const ZR_TDict& request, ZR_TAny& reply) {
  ComCallScope com;
  const ZR_TString& name = ZR_Fetch<ZR_TString>(request, "M", "ZR_TString");
  DBG_Type(1, ZR_TString("Process ") + name);
  // The statement of "query" or "querydbg" is stopped when nobody waits for
  // it any more (the other commands run none, and are spared the cost).
  std::optional<VQ_StatementCancel> cancel;
  if (name == "query" || name == "querydbg") cancel.emplace();
  if (name == "open") {
    CommandOpen(request, reply);
  } else if (name == "query") {
    CommandQuery(request, reply);
  } else if (name == "querydbg") {
    CommandQueryDbg(request, reply);
  } else if (name == "extr") {
    CommandExtr(request, reply);
  } else if (name == "elem") {
    CommandElem(request, reply);
  }
}

ZR_TObject* VQ_TServer::NewObject() {
  return new (std::nothrow) VQ_TServer;
}

void* VQ_TServer::SelfAddress() { return this; }

void* VQ_TServer::ZR_DynamicInfo(const char* name) const {
  ZR_TClass* cls = ZR_TClass::GetClassObject(false, "VQ_TServer", sizeof(VQ_TServer),
                                             &ZRM_TServer::ZR_ClassObject(), &NewObject, nullptr);
  if (name == nullptr) {
    if (!cls->flag) cls->flag = true;
    return cls;
  }
  if (std::strcmp(name, cls->name) == 0) return const_cast<VQ_TServer*>(this);
  return ZRM_TServer::ZR_DynamicInfo(name);
}
