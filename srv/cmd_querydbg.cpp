// Command "querydbg": runs P2 on the data source "DSN=" + P1 and replies
// {"Results": [ {field name: value text, ...} per record ], "Status": true},
// or {"Status": false, "Errmsg": error text}. Writes no trace, except the
// error text of a refused data source name.
#include <string>
#include <vector>

#include "platform/ado/ado.h"
#include "platform/types/zr_json.h"
#include "srv/db/ado_ops.h"
#include "platform/com/comsupp.h"
#include "srv/db/convert.h"
#include "srv/db/error_text.h"
#include "srv/dsn_refusal.h"
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

// Writes the records of an open result as the JSON text of the "Results"
// array, record by record. Built as a tree of dictionaries the array would
// take some 250 bytes per cell; as text it takes the size of the reply.
//
// The field names are read once, at the first record, and each becomes its
// key once. A name that comes back (SELECT a, a ...) keeps the place of its
// first field and the value of its last, as adding to a dictionary does.
class ResultsWriter {
 public:
  // count: the record count of the result; the array has at least that many
  // elements (records not walked are null), more when more were walked.
  // limit: the largest reply (0: none); once the array is sure to pass it
  // (what is written and the shortest form of the records to come), it
  // throws ZRM_EReplyTooLarge instead of growing on.
  ResultsWriter(LONG count, uint64_t limit) : count_(count > 0 ? static_cast<uint64_t>(count) : 0), limit_(limit) {
    // A large result gets parts of full size at once: growing a part step by
    // step would copy it each time and touch fresh memory twice over.
    if (count_ > 1000) json_.reserve(kPartReserve);
    json_.push_back('[');
  }

  // Appends the current record as an object in field order. A database null
  // is JSON null, so it stays apart from the empty text.
  void Append(const RecordsetPtr& rs) {
    if (!named_) Name(rs);
    const FieldsPtr fields = ado::GetFields(rs);
    for (size_t i = 0; i < values_.size(); ++i) {
      _variant_t index;
      _variant_t value;
      ado::GetValue(ado::GetItem(fields, Index(index, static_cast<LONG>(i))), &value);
      values_[i].is_null = value.vt == VT_NULL;
      if (!values_[i].is_null) values_[i].text = VariantToString(value);
    }
    if (written_ > 0) json_.push_back(',');
    json_.push_back('{');
    for (size_t k = 0; k < keys_.size(); ++k) {
      if (k > 0) json_.push_back(',');
      json_.append(keys_[k].json);
      const Value& v = values_[keys_[k].column];
      if (v.is_null) {
        json_.append("null");
      } else {
        ZR_JsonAppendString(v.text.Utf8(), json_);
      }
    }
    json_.push_back('}');
    ++written_;
    // The reply holds what is written and at least the shortest form of
    // every record still to come (its names, each with an empty text).
    const uint64_t to_come = count_ > written_ ? count_ - written_ : 0;
    if (limit_ != 0 && before_ + json_.size() + to_come * shortest_record_ > limit_) throw ZRM_EReplyTooLarge();
    if (json_.size() >= kPartSize) NextPart();
  }

  ZR_TJsonText Finish() {
    for (; written_ < count_; ++written_) json_.append(written_ > 0 ? ",null" : "null");
    json_.push_back(']');
    parts_.push_back(std::move(json_));
    return ZR_TJsonText(std::move(parts_));
  }

 private:
  // The text grows in parts of about this size: a single string would be
  // copied whole each time it outgrows its room, briefly holding the text
  // twice.
  static constexpr size_t kPartSize = 1 << 20;

  static constexpr size_t kPartReserve = kPartSize + (64 << 10);

  void NextPart() {
    before_ += json_.size();
    parts_.push_back(std::move(json_));
    json_ = std::string();
    json_.reserve(kPartReserve);
  }

  struct Key {
    std::string json;  // the encoded name and its ':'
    size_t column;     // the field whose value it takes
  };
  struct Value {
    bool is_null = false;
    ZR_TString text;
  };

  void Name(const RecordsetPtr& rs) {
    const FieldsPtr fields = ado::GetFields(rs);
    const LONG count = ado::GetCount(fields);
    std::vector<ZR_TString> names;
    for (LONG i = 0; i < count; ++i) {
      _variant_t index;
      const _bstr_t name = ado::GetName(ado::GetItem(fields, Index(index, i)));
      ZR_TString key(static_cast<const char16_t*>(name.GetBSTR()));
      const size_t column = static_cast<size_t>(i);
      bool seen = false;
      for (size_t k = 0; k < keys_.size() && !seen; ++k) {
        if (names[k] == key) {
          keys_[k].column = column;  // the later value replaces the earlier
          seen = true;
        }
      }
      if (seen) continue;
      std::string json;
      ZR_JsonAppendString(key.Utf8(), json);
      json.push_back(':');
      keys_.push_back(Key{std::move(json), column});
      names.push_back(std::move(key));
    }
    values_.resize(count > 0 ? static_cast<size_t>(count) : 0);
    // ',{' '}', and per name its key, ':' (in json) and '""', with ','
    // between them.
    shortest_record_ = 3 + (keys_.empty() ? 0 : keys_.size() - 1);
    for (const Key& key : keys_) shortest_record_ += key.json.size() + 2;
    named_ = true;
  }

  // A Fields index: VT_I2 holding i.
  static const VARIANT& Index(_variant_t& index, LONG i) {
    index.vt = VT_I2;
    index.iVal = static_cast<SHORT>(i);
    return index;
  }

  uint64_t count_;
  uint64_t limit_;
  uint64_t before_ = 0;  // bytes of the parts written before the current one
  uint64_t shortest_record_ = 0;  // bytes of a record whose values are all empty
  uint64_t written_ = 0;
  bool named_ = false;
  std::vector<Key> keys_;
  std::vector<Value> values_;  // the current record, one per field
  std::string json_;                // the part being written
  std::vector<std::string> parts_;  // the parts written before it
};

}  // namespace

void VQ_TServer::CommandQueryDbg(const ZR_TDict& request, ZR_TAny& reply) const {
  RecordsetPtr rs;
  const HRESULT created = ado::CreateRecordset(rs);
  if (FAILED(created) && created != E_NOINTERFACE) _com_issue_error(created);

  const ZR_TString& p1 = ZR_Fetch<ZR_TString>(request, "P1", "ZR_TString");
  const ZR_TString conn_text = ZR_TString("DSN=") + p1;
  const ZR_TString& sql = ZR_Fetch<ZR_TString>(request, "P2", "ZR_TString");

  ZR_TDict answer;
  // A refused name gets the reply of a failed connect. Unlike the command's
  // other outcomes it is traced, so the operator sees the attempt.
  if (const auto refused = VQ_RefuseDataSource(p1, VQ_ConnectingObject::kRecordset)) {
    const ZR_TString text = FormatComError(*refused);
    DBG_Type(1, text);
    answer.Add("Status", ZR_TAny(false));
    answer.Add("Errmsg", ZR_TAny(text));
    reply = std::move(answer);
    rs.Release();
    return;
  }
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

    ZR_TAny results(ZR_TJsonText("[]"));
    // A statement without a record set (INSERT, UPDATE, ...) succeeded with
    // no rows; the recordset is closed already.
    if (ado::GetState(rs) != adStateClosed) {
      ResultsWriter writer(ado::GetRecordCount(rs), ZRM_MaxReply());
      while (!ado::IsEOF(rs)) {
        writer.Append(rs);
        ado::MoveNext(rs);
      }
      ado::Close(rs);  // frees the rows before the reply is written out
      results = ZR_TAny(writer.Finish());
    }
    answer.Add("Results", std::move(results));
    answer.Add("Status", ZR_TAny(true));
  } catch (const _com_error& e) {
    // Rows past the reply limit: the reply, which holds them all, would be
    // larger still.
    if (e.Error() == kAdoResultTooLarge) throw ZRM_EReplyTooLarge();
    ZRM_CountError("db", static_cast<uint32_t>(e.Error()));  // for GET /metrics
    answer = ZR_TDict();
    answer.Add("Status", ZR_TAny(false));
    answer.Add("Errmsg", ZR_TAny(FormatComError(e)));
  }
  reply = std::move(answer);
  rs.Release();
}
