#include "platform/ado/failure.h"

namespace zado {

const char16_t* StandardText(HRESULT hr) {
  switch (hr) {
    case adErrObjectClosed:
      return u"The operation needs an open object, and this object is closed.";
    case adErrObjectOpen:
      return u"The operation is not allowed while the object is open.";
    case adErrNoCurrentRecord:
      return u"There is no current record: the position is before the first or after the last record.";
    case adErrFeatureNotAvailable:
      return u"The recordset does not support the operation.";
    case kAdoResultTooLarge:
      return u"The result is larger than the limit set for results.";
    case adErrItemNotFound:
      return u"No item of the collection has the requested name or position.";
    case adErrInvalidArgument:
      return u"An argument has the wrong type or a value out of the accepted range.";
    case adErrOperationCancelled:
      return u"The statement was cancelled: nobody waits for its result any more.";
    case adErrInvalidConnection:
      return u"The connection is closed or is not a connection of this data layer.";
    case E_POINTER:
      return u"A required result pointer is null.";
    case E_INVALIDARG:
      return u"An argument is not valid.";
    case E_OUTOFMEMORY:
      return u"Not enough memory to complete the operation.";
    default:
      return u"The operation failed.";
  }
}

HRESULT Fail(REFIID iid, const char16_t* source, HRESULT hr, const char16_t* description) {
  ComSetErrorInfo(iid, source, description ? description : StandardText(hr));
  return hr;
}

HRESULT DriverFail(REFIID iid, const char16_t* source, const DiagList& records) {
  const char16_t* text = records.empty()
                             ? u"The ODBC driver reported a failure without a diagnostic message."
                             : records.front().message.c_str();
  return Fail(iid, source, E_FAIL, text);
}

}  // namespace zado
