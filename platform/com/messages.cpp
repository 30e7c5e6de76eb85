// The system message table behind FormatMessageW. Texts end in "\r\n" like
// the messages of the platform this service first ran on, because callers
// trim exactly one trailing line break.
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/com.h"
#include "platform/com/com_testing.h"

namespace {

// "The system cannot find message text for message number ..."
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;

struct Message {
  HRESULT code;
  const char16_t* text;
};

constexpr Message kMessages[] = {
    {S_OK, u"The operation completed successfully.\r\n"},
    {S_FALSE, u"The operation completed, with a negative or partial answer.\r\n"},
    {E_NOTIMPL, u"Not implemented\r\n"},
    {E_NOINTERFACE, u"No such interface supported\r\n"},
    {E_POINTER, u"Invalid pointer\r\n"},
    {E_ABORT, u"Operation aborted\r\n"},
    {E_FAIL, u"Unspecified error\r\n"},
    {E_UNEXPECTED, u"Catastrophic failure\r\n"},
    {E_OUTOFMEMORY, u"Not enough memory resources are available to complete this operation.\r\n"},
    {E_INVALIDARG, u"The parameter is incorrect.\r\n"},
    {DISP_E_TYPEMISMATCH, u"Type mismatch.\r\n"},
    {DISP_E_OVERFLOW, u"Out of present range.\r\n"},
    {DISP_E_BADVARTYPE, u"Bad variable type.\r\n"},
    {REGDB_E_CLASSNOTREG, u"Class not registered\r\n"},
    {CLASS_E_NOAGGREGATION, u"Class does not support aggregation (or class object is remote)\r\n"},
    {CO_E_NOTINITIALIZED, u"CoInitialize has not been called.\r\n"},
    {CO_E_CLASSSTRING, u"Invalid class string\r\n"},
    {RPC_E_CHANGED_MODE, u"Cannot change thread mode after it is set.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_NOT_ENOUGH_MEMORY),
     u"Not enough memory resources are available to process this command.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
     u"The data area passed to a system call is too small.\r\n"},
    {HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION),
     u"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
};

struct Overrides {
  std::mutex mutex;
  std::map<HRESULT, std::u16string> texts;
};

Overrides& TestOverrides() {
  static Overrides overrides;
  return overrides;
}

bool LookupExact(HRESULT code, std::u16string* text) {
  {
    Overrides& o = TestOverrides();
    std::lock_guard lock(o.mutex);
    auto it = o.texts.find(code);
    if (it != o.texts.end()) {
      *text = it->second;
      return true;
    }
  }
  for (const Message& m : kMessages) {
    if (m.code == code) {
      *text = m.text;
      return true;
    }
  }
  return false;
}

// A plain system error number that is not itself in the table shares the
// text of its HRESULT form (87 reads as E_INVALIDARG).
bool Lookup(DWORD id, std::u16string* text) {
  if (LookupExact(static_cast<HRESULT>(id), text)) return true;
  return id != 0 && id <= 0xFFFF && LookupExact(HRESULT_FROM_WIN32(id), text);
}

DWORD Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

void ComSetMessageForTesting(HRESULT code, const char16_t* text) {
  Overrides& o = TestOverrides();
  std::lock_guard lock(o.mutex);
  if (text == nullptr) {
    o.texts.erase(code);
  } else {
    o.texts[code] = text;
  }
}

// Only FORMAT_MESSAGE_FROM_SYSTEM is offered. The language is not used (the
// table has one language). Messages carry no inserts, so the text is handed
// out as it is with or without FORMAT_MESSAGE_IGNORE_INSERTS.
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language,
                     OLECHAR* buffer, DWORD size, void* arguments) {
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) return Fail(ERROR_INVALID_PARAMETER);
  if (buffer == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  std::u16string text;
  if (!Lookup(message_id, &text)) return Fail(ERROR_MR_MID_NOT_FOUND);
  size_t needed = text.size() + 1;
  OLECHAR* target = buffer;
  if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    // `size` is then the least number of characters to allocate.
    size_t chars = needed > size ? needed : size;
    target = static_cast<OLECHAR*>(LocalAlloc(LMEM_FIXED, chars * sizeof(OLECHAR)));
    if (target == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    std::memcpy(buffer, &target, sizeof target);  // buffer is really an OLECHAR**
  } else if (size < needed) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(target, text.data(), text.size() * sizeof(OLECHAR));
  target[text.size()] = u'\0';
  return static_cast<DWORD>(text.size());
}
