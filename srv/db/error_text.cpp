#include "srv/db/error_text.h"

#include "platform/com/comsupp.h"

namespace {

unsigned long CodeBits(HRESULT hr) { return static_cast<unsigned long>(static_cast<uint32_t>(hr)); }

}  // namespace

ZR_TString FormatComError(const _com_error& e) {
  const _bstr_t source = e.Source();
  const _bstr_t description = e.Description();
  const _bstr_t meaning(e.CodeMeaning());
  // Format sizes the text itself, so a long description is never cut.
  return ZR_TString::Format("Error code = %08lx (%s) %s (Source=%s)", CodeBits(e.Error()),
                            OrNull(meaning.Narrow()), OrNull(description.Narrow()),
                            OrNull(source.Narrow()));
}

void TraceComError(const ZRM_TTracer& server, const _com_error& e) {
  const _bstr_t source = e.Source();
  const _bstr_t description = e.Description();
  const _bstr_t meaning(e.CodeMeaning());
  server.DBG_Type(1, ZR_TString::Format("\tCode = %08lx\n", CodeBits(e.Error())));
  server.DBG_Type(1, ZR_TString::Format("\tCode meaning = %s\n", OrNull(meaning.Narrow())));
  server.DBG_Type(1, ZR_TString::Format("\tSource = %s\n", OrNull(source.Narrow())));
  server.DBG_Type(1, ZR_TString::Format("\tDescription = %s\n", OrNull(description.Narrow())));
}

void TraceAdoErrors(const ZRM_TTracer& server, ConnectionPtr conn) {
  conn.operator->();  // an empty connection fails before any call
  {
    const ErrorsPtr errors = ado::GetErrors(conn);
    if (ado::GetCount(errors) <= 0) return;
  }
  LONG count = 0;
  {
    const ErrorsPtr errors = ado::GetErrors(conn);
    count = ado::GetCount(errors);
  }
  ErrorPtr error;
  for (LONG i = 0; i < count; ++i) {
    {
      _variant_t index;
      index.vt = VT_I4;
      index.lVal = i;
      const ErrorsPtr errors = ado::GetErrors(conn);
      // The new Error already holds its reference when the old one goes.
      error = ado::GetItem(errors, index);
    }
    ZR_TString line;
    {
      const _bstr_t description = ado::GetDescription(error);
      const char* text = OrNull(description.Narrow());
      const LONG number = ado::GetNumber(error);
      line = ZR_TString::Format("Error number: %x\t%s\n", static_cast<unsigned>(number), text);
    }
    server.DBG_Type(1, line);
  }
}
