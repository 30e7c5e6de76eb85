// VQ_TServer: the service's one server object. It binds "ZIDozeve" and
// answers each request through HandleRequest. It keeps no state of its own:
// everything a request uses lives for that request only.
#pragma once

#include "platform/middleware/zrm.h"
#include "platform/types/zr.h"

class _com_error;
template <class I> class _com_ptr_t;
struct _Connection;

class VQ_TServer : public ZRM_TServer {
 public:
  VQ_TServer();  // binds "ZIDozeve" with 1, 0, false
  ~VQ_TServer() override;

  void HandleRequest(const ZR_TDict& request, ZR_TAny& reply) override;

  // Error paths of the database commands.
  void TraceComError(const _com_error& e) const;
  void TraceAdoErrors(_com_ptr_t<_Connection> conn) const;

  // Registration with the class registry, on first call.
  void* SelfAddress() override;
  void* ZR_DynamicInfo(const char* name) const override;
  static ZR_TObject* NewObject();

 private:
  // One per command; each sets the reply once.
  void CommandOpen(const ZR_TDict& request, ZR_TAny& reply) const;
  void CommandQuery(const ZR_TDict& request, ZR_TAny& reply) const;
  void CommandQueryDbg(const ZR_TDict& request, ZR_TAny& reply) const;
  void CommandExtr(const ZR_TDict& request, ZR_TAny& reply) const;
  void CommandElem(const ZR_TDict& request, ZR_TAny& reply) const;
};

extern "C" bool __ZR_INITIALIZATION_FUNCTION_vqsrv__();
