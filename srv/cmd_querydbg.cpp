// Command "querydbg": runs P2 on the data source "DSN=" + P1 and replies
// {"Results": [ {field name: value text, ...} per record ], "Status": true},
// or {"Status": false, "Errmsg": error text}. Writes no trace.
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "srv/db/ado_ops.h"
#include "srv/db/com_error.h"
#include "srv/db/convert.h"
#include "srv/db/error_text.h"
#include "srv/db/variant.h"
#include "srv/vq_server.h"

namespace {

// A BSTR of the whole narrow text, embedded NULs included: a statement cut
// at a NUL could run something else than what the client sent.
BSTR WholeNarrowToBstr(const std::string& narrow) {
  if (narrow.empty()) {
    BSTR empty = SysAllocStringLen(u"", 0);
    if (!empty) _com_issue_error(E_OUTOFMEMORY);
    return empty;
  }
  if (narrow.size() > 0x7FFFFFFFu) _com_issue_error(E_OUTOFMEMORY);
  const int len = static_cast<int>(narrow.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), len, nullptr, 0);
  if (units <= 0) _com_issue_last_error();
  std::u16string wide(static_cast<size_t>(units), u'\0');
  if (MultiByteToWideChar(CP_ACP, 0, narrow.data(), len, wide.data(), units) != units) {
    _com_issue_last_error();
  }
  BSTR out = SysAllocStringLen(wide.data(), static_cast<UINT>(units));
  if (!out) _com_issue_error(E_OUTOFMEMORY);
  return out;
}

// Reads the records of an open result. The field names and their count are
// taken once, at the first record, and each name becomes a key once instead
// of once per cell; every record then costs one Fields lookup and one Item
// per field.
class RecordReader {
 public:
  explicit RecordReader(const RecordsetPtr& rs) {
    const FieldsPtr fields = ado::GetFields(rs);
    const LONG count = ado::GetCount(fields);
    names_.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (LONG i = 0; i < count; ++i) {
      _variant_t index;
      const _bstr_t name = ado::GetName(ado::GetItem(fields, Index(index, i)));
      names_.emplace_back(static_cast<const char16_t*>(name.GetBSTR()));
    }
  }

  // The current record as a dictionary in field order. A database null is
  // the empty value (JSON null), so it stays apart from the empty text.
  ZR_TDict Read(const RecordsetPtr& rs) const {
    const FieldsPtr fields = ado::GetFields(rs);
    ZR_TDict record;
    record.Reserve(names_.size());
    for (size_t i = 0; i < names_.size(); ++i) {
      _variant_t index;
      _variant_t value;
      ado::GetValue(ado::GetItem(fields, Index(index, static_cast<LONG>(i))), &value);
      ZR_TAny text = value.vt == VT_NULL ? ZR_TAny() : ZR_TAny(VariantToString(value));
      record.Add(names_[i], std::move(text));
    }
    return record;
  }

 private:
  // A Fields index: VT_I2 holding i.
  static const VARIANT& Index(_variant_t& index, LONG i) {
    index.vt = VT_I2;
    index.iVal = static_cast<SHORT>(i);
    return index;
  }

  std::vector<ZR_TString> names_;
};

}  // namespace

void VQ_TServer::CommandQueryDbg(const ZR_TDict& request, ZR_TAny& reply) const {
  RecordsetPtr rs;
  const HRESULT created = ado::CreateRecordset(rs);
  if (FAILED(created) && created != E_NOINTERFACE) _com_issue_error(created);

  const ZR_TString conn_text =
      ZR_TString("DSN=") + ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const ZR_TString& sql = ZR_Fetch<ZR_TString>(request, "P2", "ZR_TString");

  ZR_TDict answer;
  try {
    // Whole texts, however long: nothing is cut.
    const std::string narrow_conn = StringToNarrow(conn_text);
    const std::string narrow_sql = StringToNarrow(sql);
    ado::PutCursorLocation(rs, adUseClient);
    {
      _variant_t source;
      source.bstrVal = WholeNarrowToBstr(narrow_sql);
      source.vt = VT_BSTR;
      _variant_t connection;
      connection.bstrVal = WholeNarrowToBstr(narrow_conn);
      connection.vt = VT_BSTR;
      ado::Open(rs, source, connection, adOpenStatic, adLockBatchOptimistic, adCmdUnspecified);
    }

    ZR_TArray results;
    // A statement without a record set (INSERT, UPDATE, ...) succeeded with
    // no rows; the recordset is closed already.
    if (ado::GetState(rs) != adStateClosed) {
      const LONG count = ado::GetRecordCount(rs);
      results = ZR_TArray(count > 0 ? static_cast<uint32_t>(count) : 0u);
      uint32_t row = 1;
      std::optional<RecordReader> reader;  // made at the first row
      while (!ado::IsEOF(rs)) {
        if (!reader) reader.emplace(rs);
        ZR_TDict record = reader->Read(rs);
        // More rows than the count foresaw are appended, not lost.
        if (row - 1 < results.Size()) {
          results[row - 1] = std::move(record);
        } else {
          results.Append(ZR_TAny(std::move(record)));
        }
        ++row;
        ado::MoveNext(rs);
      }
      ado::Close(rs);
    }
    answer.Add("Results", ZR_TAny(std::move(results)));
    answer.Add("Status", ZR_TAny(true));
  } catch (const _com_error& e) {
    ZRM_CountError("db", static_cast<uint32_t>(e.Error()));  // for GET /metrics
    answer = ZR_TDict();
    answer.Add("Status", ZR_TAny(false));
    answer.Add("Errmsg", ZR_TAny(FormatComError(e)));
  }
  reply = std::move(answer);
  rs.Release();
}
