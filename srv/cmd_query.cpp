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
    ado::PutCursorLocation(rs, adUseClient);
    if (selector > 0) ado::PutMaxRecords(rs, selector);
    {
      _variant_t source;
      source.bstrVal = StringToBstr(sql);
      source.vt = VT_BSTR;
      _variant_t connection;
      connection.bstrVal = StringToBstr(conn_text);
      connection.vt = VT_BSTR;
      ado::Open(rs, source, connection, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
    }

    const LONG state = ado::GetState(rs);
    if (OnDebugLevel(2)) DBG_Type(2, ZR_TString::Format("record state %d ", state));
    if (state == adStateClosed) {
      // The statement ran and gave no record set (INSERT, UPDATE, DELETE,
      // a table definition ...): nothing to show, and nothing to close.
      reply = ZR_TString();
      rs.Release();
      return;
    }

    if (OnDebugLevel(2)) {
      DBG_Type(2, ZR_TString::Format("record status %d ", ado::GetStatus(rs)));
      if (ConnectionPtr active = ado::GetActiveConnection(rs)) TraceAdoErrors(active);
    }

    // The walk is driven by the record count, read anew before every record.
    int32_t counter = 0;
    int32_t record = 1;
    while (counter < ado::GetRecordCount(rs)) {
      _variant_t index;
      index.vt = VT_I2;
      index.iVal = 0;
      if (OnDebugLevel(1)) DBG_Type(1, ZR_TString::Format("record nr %d ", record));

      if (record == selector || selector == -1) {
        for (int32_t i = 0; i < ado::GetCount(ado::GetFields(rs)); ++i) {
          index.iVal = static_cast<SHORT>(i);
          TraceSelectedField(*this, rs, index);
          AppendField(line, rs, index, i, record, selector);
          if (OnDebugLevel(1)) DBG_Type(1, line.Text());
        }
        if (selector > -1) {
          ado::Close(rs);
          reply = line.TakeReply();
          rs.Release();
          return;
        }
      } else if (OnDebugLevel(2)) {
        TraceUnselectedRecord(*this, rs, line.Text(), record);
      }

      ++record;
      ado::MoveNext(rs);
      index.Clear();
      ++counter;
    }

    DBG_Type(1, "End of recordset reached");
    ado::Close(rs);
    reply = line.TakeReply();
  } catch (const _com_error& e) {
    if (e.Error() == kAdoResultTooLarge) {
      // The rows passed the reply limit before the walk began. Every record
      // goes into the line of P3 = -1: refused, as its reply would be. Any
      // other selector reaching here (0, below -1) picks no record: its
      // reply is the empty text, whatever the rows.
      if (selector == -1) throw ZRM_EReplyTooLarge();
      reply = ZR_TString();
      rs.Release();
      return;
    }
    ZRM_CountError("db", static_cast<uint32_t>(e.Error()));  // for GET /metrics
    // The line gathered so far is dropped; the client tells an error from
    // data by the text alone.
    const ZR_TString text = FormatComError(e);
    reply = text;
    DBG_Type(1, text);
  }
  rs.Release();
}
