// The server's error traces: thin members over the free functions of the
// database layer, so the commands can call them on themselves.
#include "srv/db/error_text.h"
#include "srv/vq_server.h"

void VQ_TServer::TraceComError(const _com_error& e) const { ::TraceComError(*this, e); }

void VQ_TServer::TraceAdoErrors(_com_ptr_t<_Connection> conn) const {
  ::TraceAdoErrors(*this, std::move(conn));
}
