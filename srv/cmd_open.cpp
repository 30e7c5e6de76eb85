// Command "open": can the data source "DSN=" + P1 be opened? Replies
// {"Status": bool}; the details of a failure go to the trace only.
#include "platform/ado/ado.h"
#include "srv/dsn_policy.h"
#include "srv/dsn_refusal.h"
#include "srv/db/ado_ops.h"
#include "platform/com/comsupp.h"
#include "srv/db/convert.h"
#include "srv/vq_server.h"

namespace {

// The trace text of a connection state; null for a value that is not
// exactly one of the known states.
const char* StateText(LONG state) {
  switch (state) {
    case adStateClosed: return "Connection state: closed ";
    case adStateOpen: return "Connection state: open ";
    case adStateConnecting: return "Connection state: connecting ";
    case adStateExecuting: return "Connection state: executing ";
    case adStateFetching: return "Connection state: fetching ";
    default: return nullptr;
  }
}

}  // namespace

void VQ_TServer::CommandOpen(const ZR_TDict& request, ZR_TAny& reply) const {
  const ZR_TString& p1 = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const ZR_TString conn_text = ZR_TString("DSN=") + p1;
  if (OnDebugLevel(1)) DBG_Type(1, " open " + VQ_MaskPasswords(conn_text.Utf8()));

  ZR_TDict result;
  // A refused name is answered as a connect that failed before a Connection
  // existed: the error's trace, then "Status" false.
  if (const auto refused = VQ_RefuseDataSource(p1, VQ_ConnectingObject::kConnection)) {
    TraceComError(*refused);
    result.Add("Status", ZR_TAny(false));
    reply = std::move(result);
    return;
  }
  ConnectionPtr conn;
  try {
    ado::CreateConnection(conn);
    // The whole connection string, however long: a cut one could name
    // another data source.
    ado::PutConnectionString(conn, StringToNarrow(conn_text).c_str());
    ado::Open(conn, "", "", "", 0);
    result.Add("Status", ZR_TAny(true));
    const LONG state = ado::GetState(conn);
    if (const char* text = StateText(state)) {
      DBG_Type(1, text);
      // A connection reported closed still counts as opened: Open succeeded.
      if (state == adStateClosed) result.Add("Status", ZR_TAny(true));
    }
  } catch (const _com_error& e) {
    ZRM_CountError("db", static_cast<uint32_t>(e.Error()));  // for GET /metrics
    // A failure inside the listing leaves the command: no reply is set then.
    if (conn) TraceAdoErrors(conn);
    TraceComError(e);
    // Replaces the true of a failure after Open in place.
    result.Add("Status", ZR_TAny(false));
  }
  reply = std::move(result);
  conn.Release();
}
