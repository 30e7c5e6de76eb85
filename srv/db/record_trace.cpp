#include "srv/db/record_trace.h"

#include "platform/com/comsupp.h"
#include "srv/db/convert.h"

namespace {

FieldPtr FieldAt(const RecordsetPtr& rs, const VARIANT& index) {
  return ado::GetItem(ado::GetFields(rs), index);
}

// The value text of a trace line. A database null cannot be coerced to
// text, and a trace must not end the request, so it shows as "(null)".
ZR_TString ValueText(const VARIANT& value) {
  if (value.vt == VT_NULL) return ZR_TString("(null)");
  return VariantToString(value);
}

ZR_TString NumberText(LONG value) {
  const _bstr_t text = LongToText(value);
  return ZR_TString(OrNull(text.Narrow()));
}

}  // namespace

void TraceSelectedField(const ZRM_TTracer& server, const RecordsetPtr& rs, const VARIANT& index) {
  if (!server.OnDebugLevel(1)) return;
  {
    const _bstr_t name = ado::GetName(FieldAt(rs, index));
    server.DBG_Type(1, ZR_TString::Format(" field name %s", OrNull(name.Narrow())));
  }
  if (server.OnDebugLevel(3)) {
    const ZR_TString status = NumberText(ado::GetStatus(FieldAt(rs, index)));
    server.DBG_Type(3, ZR_TString::Format("  status %s", status.c_str()));
    const ZR_TString attributes = NumberText(ado::GetAttributes(FieldAt(rs, index)));
    server.DBG_Type(3, ZR_TString::Format("  attributes %s", attributes.c_str()));
    server.DBG_Type(3, ZR_TString::Format("  type %d", static_cast<int>(ado::GetType(FieldAt(rs, index)))));
  }
  if (ado::GetActualSize(FieldAt(rs, index)) != 0) {
    _variant_t value;
    ado::GetValue(FieldAt(rs, index), &value);
    server.DBG_Type(1, ZR_TString(" field value ") + ValueText(value));
  } else {
    server.DBG_Type(1, " field value (empty)");
  }
}

void TraceUnselectedRecord(const ZRM_TTracer& server, const RecordsetPtr& rs,
                           const ZR_TString& line, int32_t record) {
  if (!server.OnDebugLevel(2)) return;  // nothing is read for a level that is off
  server.DBG_Type(1, line);
  server.DBG_Type(2, ZR_TString::Format("Displaying record set nr %d", static_cast<int>(record)));
  _variant_t index;
  index.vt = VT_I2;
  for (int32_t i = 0; i < ado::GetCount(ado::GetFields(rs)); ++i) {
    index.iVal = static_cast<SHORT>(i);
    const _bstr_t name = ado::GetName(FieldAt(rs, index));
    _variant_t value;
    ado::GetValue(FieldAt(rs, index), &value);
    server.DBG_Type(2, ZR_TString(static_cast<const char16_t*>(name.GetBSTR()), ZR_TString::kWhole) +
                           ZR_TString(" = ") + ValueText(value));
  }
}
