#include "srv/dsn_refusal.h"

#include <string>

#include "platform/ado/ado.h"
#include "platform/middleware/zrm.h"
#include "srv/dsn_policy.h"
#include "srv/dsn_sources.h"

std::optional<_com_error> VQ_RefuseDataSource(const ZR_TString& p1, VQ_ConnectingObject object) {
  const std::string text = p1.Utf8();
  std::string reason = VQ_DsnPolicy().Check(text);
  const char* kind = "dsn_refused";
  if (reason.empty()) {
    reason = VQ_DsnSources().Check(std::string_view(text).substr(0, text.find(';')));
    kind = "dsn_unreadable";
  }
  if (reason.empty()) return std::nullopt;
  ZRM_CountError(kind, static_cast<uint32_t>(E_FAIL));
  // The reason repeats only a name or keyword that passed the checks (never
  // a value) and a file name.
  const std::u16string description = ZR_TString(reason).ToUtf16();
  const bool connection = object == VQ_ConnectingObject::kConnection;
  ComSetErrorInfo(connection ? IID_Connection15 : IID_Recordset15,
                  connection ? u"ADODB.Connection" : u"ADODB.Recordset", description.c_str());
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  return _com_error(E_FAIL, info);
}
