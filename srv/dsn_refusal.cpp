#include "srv/dsn_refusal.h"

#include <string>

#include "platform/ado/ado.h"
#include "platform/middleware/zrm.h"
#include "srv/dsn_policy.h"

std::optional<_com_error> VQ_RefuseDataSource(const ZR_TString& p1, VQ_ConnectingObject object) {
  const std::string reason = VQ_DsnPolicy().Check(p1.Utf8());
  if (reason.empty()) return std::nullopt;
  ZRM_CountError("dsn_refused", static_cast<uint32_t>(E_FAIL));
  // The reason is ASCII: it repeats only a name or keyword that passed the
  // checks, never a value.
  const std::u16string description(reason.begin(), reason.end());
  const bool connection = object == VQ_ConnectingObject::kConnection;
  ComSetErrorInfo(connection ? IID_Connection15 : IID_Recordset15,
                  connection ? u"ADODB.Connection" : u"ADODB.Recordset", description.c_str());
  IErrorInfo* info = nullptr;
  if (GetErrorInfo(0, &info) != S_OK) info = nullptr;
  return _com_error(E_FAIL, info);
}
