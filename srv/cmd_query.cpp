// Command "query": runs P2 on the data source "DSN=" + P1 and replies with
// one text: the fields of record P3 (or of every record when P3 is -1)
// joined by "|", the empty text, or the one-line error text.
#include "platform/ado/ado.h"
#include "srv/db/ado_ops.h"
#include "platform/com/comsupp.h"
#include "srv/db/convert.h"
#include "srv/db/error_text.h"
#include "srv/db/field_text.h"
#include "srv/db/record_trace.h"
#include "srv/db/result_line.h"
#include "srv/dsn_policy.h"
#include "srv/dsn_refusal.h"
#include "srv/vq_server.h"

namespace {

// Opens rs on sql through the connection text, read whole to the client.
void OpenRecordset(RecordsetPtr& rs, const ZR_TString& sql, const ZR_TString& conn_text, int32_t selector) {
  ado::PutCursorLocation(rs, adUseClient);
  if (selector > 0) ado::PutMaxRecords(rs, selector);
  _variant_t source;
  source.bstrVal = StringToBstr(sql);
  source.vt = VT_BSTR;
  _variant_t connection;
  connection.bstrVal = StringToBstr(conn_text);
  connection.vt = VT_BSTR;
  ado::Open(rs, source, connection, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
}

// Whether the statement gave a record set; traces its state and status.
bool HasRecordset(const VQ_TServer& server, const RecordsetPtr& rs) {
  const LONG state = ado::GetState(rs);
  if (server.OnDebugLevel(2)) server.DBG_Type(2, ZR_TString::Format("record state %d ", state));
  // A statement without a record set (INSERT, UPDATE, DELETE, a table
  // definition ...) leaves it closed: nothing to show, and nothing to close.
  if (state == adStateClosed) return false;
  if (server.OnDebugLevel(2)) {
    server.DBG_Type(2, ZR_TString::Format("record status %d ", ado::GetStatus(rs)));
    if (ConnectionPtr active = ado::GetActiveConnection(rs)) server.TraceAdoErrors(active);
  }
  return true;
}

// Adds every field of the current record to the line.
void AppendRecord(const VQ_TServer& server, const RecordsetPtr& rs, ResultLine& line, int32_t record,
                  int32_t selector) {
  _variant_t index;
  index.vt = VT_I2;
  index.iVal = 0;
  for (int32_t i = 0; i < ado::GetCount(ado::GetFields(rs)); ++i) {
    index.iVal = static_cast<SHORT>(i);
    TraceSelectedField(server, rs, index);
    AppendField(line, rs, index, i, record, selector);
    if (server.OnDebugLevel(1)) server.DBG_Type(1, line.Text());
  }
}

// Walks the records into the line: the one numbered selector (from 1), or
// every one for -1. True when the selected record ended the walk early.
// The walk is driven by the record count, read anew before every record.
bool WalkRecords(const VQ_TServer& server, const RecordsetPtr& rs, ResultLine& line, int32_t selector) {
  int32_t counter = 0;
  int32_t record = 1;
  while (counter < ado::GetRecordCount(rs)) {
    if (server.OnDebugLevel(1)) server.DBG_Type(1, ZR_TString::Format("record nr %d ", record));
    if (record == selector || selector == -1) {
      AppendRecord(server, rs, line, record, selector);
      if (selector > -1) return true;
    } else if (server.OnDebugLevel(2)) {
      TraceUnselectedRecord(server, rs, line.Text(), record);
    }
    ++record;
    ado::MoveNext(rs);
    ++counter;
  }
  return false;
}

// The reply to a failure inside the guarded stretch.
void AnswerFailure(const VQ_TServer& server, const _com_error& e, int32_t selector, ZR_TAny& reply) {
  if (e.Error() == kAdoResultTooLarge) {
    // The rows passed the reply limit before the walk began. Every record
    // goes into the line of P3 = -1: refused, as its reply would be. Any
    // other selector reaching here (0, below -1) picks no record: its
    // reply is the empty text, whatever the rows.
    if (selector == -1) throw ZRM_EReplyTooLarge();
    reply = ZR_TString();
    return;
  }
  ZRM_CountError("db", static_cast<uint32_t>(e.Error()));  // for GET /metrics
  // The line gathered so far is dropped; the client tells an error from
  // data by the text alone.
  const ZR_TString text = FormatComError(e);
  reply = text;
  server.DBG_Type(1, text);
}

}  // namespace

void VQ_TServer::CommandQuery(const ZR_TDict& request, ZR_TAny& reply) const {
  // Before the guarded stretch: only a missing interface is answered as an
  // error text (through E_POINTER on first use); any other failure to make
  // the object leaves the request.
  RecordsetPtr rs;
  const HRESULT created = ado::CreateRecordset(rs);
  if (FAILED(created) && created != E_NOINTERFACE) _com_issue_error(created);

  const ZR_TString& p1 = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const ZR_TString conn_text = ZR_TString("DSN=") + p1;
  const ZR_TString& sql = ZR_Fetch<ZR_TString>(request, "P2", "ZR_TString");
  const int32_t selector = ZR_Fetch<int32_t>(request, "P3", "ZR_TInt32");

  if (OnDebugLevel(1)) {
    DBG_Type(1, ZR_TString::Format("query - recordidx %d DSN:", selector).Utf8() +
                    VQ_MaskPasswords(conn_text.Utf8()) + " SQL " + sql.Utf8());
  }

  // A refused name gets the error text of a failed connect.
  if (const auto refused = VQ_RefuseDataSource(p1, VQ_ConnectingObject::kRecordset)) {
    const ZR_TString text = FormatComError(*refused);
    reply = text;
    DBG_Type(1, text);
    rs.Release();
    return;
  }

  // The line is kept whole for the trace only when the trace shows it.
  ResultLine line(ZRM_MaxReply(), OnDebugLevel(1));
  try {
    OpenRecordset(rs, sql, conn_text, selector);
    if (!HasRecordset(*this, rs)) {
      reply = ZR_TString();
    } else {
      if (!WalkRecords(*this, rs, line, selector)) DBG_Type(1, "End of recordset reached");
      ado::Close(rs);
      reply = line.TakeReply();
    }
  } catch (const _com_error& e) {
    AnswerFailure(*this, e, selector, reply);
  }
  rs.Release();
}
