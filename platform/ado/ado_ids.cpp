// Class and interface identifiers of the data objects.
#include "platform/ado/ado.h"

namespace {
// All data-object identifiers share this tail: {xxxxxxxx-0000-0010-8000-00AA006D2EA4}.
constexpr GUID AdoGuid(uint32_t first) {
  return GUID{first, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
}
}  // namespace

const CLSID CLSID_Connection = AdoGuid(0x00000514);
const CLSID CLSID_Recordset = AdoGuid(0x00000535);
const IID IID__Connection = AdoGuid(0x00000550);
const IID IID__Recordset = AdoGuid(0x00000556);
const IID IID_Connection15 = AdoGuid(0x00000515);
const IID IID_Recordset15 = AdoGuid(0x0000050E);
const IID IID__Collection = AdoGuid(0x00000512);
const IID IID_Fields15 = AdoGuid(0x00000506);
const IID IID_Fields = AdoGuid(0x0000054D);
const IID IID_Field20 = AdoGuid(0x0000054C);
const IID IID_Field = AdoGuid(0x00000569);
const IID IID_Errors = AdoGuid(0x00000501);
const IID IID_Error = AdoGuid(0x00000500);
