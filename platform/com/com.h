// The COM and OLE Automation subset the service stands on: result codes,
// GUIDs, IUnknown and friends, BSTR, VARIANT, per-thread error information,
// code-page conversion, system messages, and a class registry for
// CoCreateInstance.
//
// BSTR is UTF-16 (OLECHAR = char16_t) with a 32-bit byte-length prefix; the
// "ANSI code page" CP_ACP is UTF-8.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// The Windows-style scalar names live in namespace zwin and are made visible
// everywhere by a using-directive. unixODBC declares some of the same names
// globally; where they denote the same type both lookups agree, and its
// ULONG (unsigned long) differs from ours (32 bits), so code that sees the
// ODBC headers spells ours zwin::ULONG.
namespace zwin {
using HRESULT = int32_t;
using LONG = int32_t;
using ULONG = uint32_t;
using SHORT = int16_t;
using USHORT = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using BYTE = uint8_t;
using CHAR = char;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using VARIANT_BOOL = int16_t;
using VARTYPE = uint16_t;
using DATE = double;  // days since 1899-12-30, fraction = time of day
}  // namespace zwin
using namespace zwin;

inline constexpr VARIANT_BOOL VARIANT_TRUE = -1;
inline constexpr VARIANT_BOOL VARIANT_FALSE = 0;

constexpr HRESULT MakeHr(uint32_t v) { return static_cast<HRESULT>(v); }
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT HRESULT_FROM_WIN32(uint32_t e) {
  return static_cast<int32_t>(e) <= 0 ? static_cast<HRESULT>(e)
                                      : MakeHr((e & 0xFFFFu) | 0x80070000u);
}

// Result codes the service meets.
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHr(0x80004001);
inline constexpr HRESULT E_NOINTERFACE = MakeHr(0x80004002);
inline constexpr HRESULT E_POINTER = MakeHr(0x80004003);
inline constexpr HRESULT E_ABORT = MakeHr(0x80004004);
inline constexpr HRESULT E_FAIL = MakeHr(0x80004005);
inline constexpr HRESULT E_UNEXPECTED = MakeHr(0x8000FFFF);
inline constexpr HRESULT E_OUTOFMEMORY = MakeHr(0x8007000E);
inline constexpr HRESULT E_INVALIDARG = MakeHr(0x80070057);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MakeHr(0x80020005);
inline constexpr HRESULT DISP_E_OVERFLOW = MakeHr(0x8002000A);
inline constexpr HRESULT DISP_E_BADVARTYPE = MakeHr(0x80020008);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHr(0x80040154);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHr(0x80040110);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHr(0x800401F0);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHr(0x800401F3);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MakeHr(0x80010106);
// ADO's own codes.
inline constexpr HRESULT adErrItemNotFound = MakeHr(0x800A0CC1);
inline constexpr HRESULT adErrNoCurrentRecord = MakeHr(0x800A0BCD);
inline constexpr HRESULT adErrObjectClosed = MakeHr(0x800A0E78);
inline constexpr HRESULT adErrInvalidArgument = MakeHr(0x800A0BB9);
inline constexpr HRESULT adErrInvalidConnection = MakeHr(0x800A0E7D);

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
inline constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;

// ---------------------------------------------------------------------------
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
bool operator==(const GUID& a, const GUID& b);
inline bool operator!=(const GUID& a, const GUID& b) { return !(a == b); }
inline constexpr GUID GUID_NULL{0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IErrorInfo;
extern const IID IID_ISupportErrorInfo;

// ---------------------------------------------------------------------------
struct IUnknown {
  virtual HRESULT QueryInterface(REFIID riid, void** out) = 0;
  virtual zwin::ULONG AddRef() = 0;
  virtual zwin::ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

// Late binding is not offered; the dispatch methods answer E_NOTIMPL.
struct IDispatch : IUnknown {
  virtual HRESULT GetTypeInfoCount(UINT* count);
};

struct IErrorInfo : IUnknown {
  virtual HRESULT GetGUID(GUID* guid) = 0;
  virtual HRESULT GetSource(BSTR* source) = 0;
  virtual HRESULT GetDescription(BSTR* description) = 0;
};

struct ISupportErrorInfo : IUnknown {
  virtual HRESULT InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

// ---------------------------------------------------------------------------
// BSTR. A null BSTR is the empty text everywhere.
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT len);        // len in units
BSTR SysAllocStringByteLen(const char* bytes, UINT byte_len);  // null bytes: zeroed
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
UINT SysStringByteLen(BSTR text);

// ---------------------------------------------------------------------------
enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_DECIMAL = 14,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_INT = 22,
  VT_UINT = 23,
  VT_ARRAY = 0x2000,
};

// Exact decimal: value = (Hi32 * 2^64 + Lo64) / 10^scale, negative when sign
// is DECIMAL_NEG.
struct DECIMAL {
  uint16_t wReserved;
  BYTE scale;
  BYTE sign;
  uint32_t Hi32;
  uint64_t Lo64;
};
inline constexpr BYTE DECIMAL_NEG = 0x80;

// One-dimensional array of bytes (binary column values: VT_ARRAY | VT_UI1).
struct SAFEARRAY {
  zwin::ULONG cbElements;  // 1
  zwin::ULONG cElements;
  void* pvData;
};
SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lower_bound, zwin::ULONG count);
HRESULT SafeArrayDestroy(SAFEARRAY* array);
HRESULT SafeArrayCopy(SAFEARRAY* array, SAFEARRAY** out);

struct VARIANT {
  VARTYPE vt;
  uint16_t wReserved1, wReserved2, wReserved3;
  union {
    LONGLONG llVal;
    ULONGLONG ullVal;
    LONG lVal;
    zwin::ULONG ulVal;
    SHORT iVal;
    USHORT uiVal;
    BYTE bVal;
    CHAR cVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    HRESULT scode;
    LONGLONG cyVal;  // currency: value * 10000
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    SAFEARRAY* parray;
    DECIMAL decVal;
  };
};
using VARIANTARG = VARIANT;

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
HRESULT VariantCopy(VARIANT* dest, const VARIANT* src);
// Conversions to VT_BSTR, VT_R8, VT_R4, VT_I2, VT_I4, VT_I8, VT_BOOL,
// VT_DISPATCH and VT_UNKNOWN (see the README for the text forms). dest may
// be src. VT_NULL converts to nothing but itself: DISP_E_TYPEMISMATCH.
HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT flags, VARTYPE vt);

// ---------------------------------------------------------------------------
// Per-thread error information. SetErrorInfo takes a reference of its own;
// GetErrorInfo hands the object over and clears the thread's slot
// (S_FALSE and null when there is none).
HRESULT GetErrorInfo(zwin::ULONG reserved, IErrorInfo** info);
HRESULT SetErrorInfo(zwin::ULONG reserved, IErrorInfo* info);
// Makes an error object with the given source and description (UTF-16,
// either may be null) and sets it on the calling thread.
HRESULT ComSetErrorInfo(REFIID iid, const OLECHAR* source, const OLECHAR* description);

// ---------------------------------------------------------------------------
// Code pages. CP_ACP and CP_UTF8 are both UTF-8. Lengths of -1 take the text
// and its terminating NUL. A zero output size asks for the size needed.
// Invalid input fails (0) with ERROR_NO_UNICODE_TRANSLATION; a too small
// buffer with ERROR_INSUFFICIENT_BUFFER.
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* text, int len,
                        OLECHAR* out, int out_len);
int WideCharToMultiByte(UINT code_page, DWORD flags, const OLECHAR* text, int len,
                        char* out, int out_len, const char* default_char,
                        int* used_default);
DWORD GetLastError();
void SetLastError(DWORD error);

int lstrlenA(const char* text);
int lstrlenW(const OLECHAR* text);

using HLOCAL = void*;
inline constexpr UINT LMEM_FIXED = 0;
inline constexpr UINT LMEM_ZEROINIT = 0x40;
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL mem);

// System messages for result codes, from the service's own message table.
// With FORMAT_MESSAGE_ALLOCATE_BUFFER, buffer is really an OLECHAR** that
// receives a LocalAlloc'ed text (free it with LocalFree). Returns the length
// in characters, 0 when there is no message.
inline constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
inline constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
inline constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;
DWORD FormatMessageW(DWORD flags, const void* source, DWORD message_id, DWORD language,
                     OLECHAR* buffer, DWORD size, void* arguments);

// ---------------------------------------------------------------------------
// Apartment set-up, counted per thread: the first call on a thread answers
// S_OK, later ones S_FALSE; each CoUninitialize undoes one.
HRESULT CoInitialize(void* reserved);
void CoUninitialize();
// Current count of the calling thread (0 when COM is not initialised).
int CoInitializeCount();

inline constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
inline constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
inline constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
inline constexpr DWORD CLSCTX_ALL = 0x17;

// Creates a registered class. Fails with CO_E_NOTINITIALIZED on a thread
// without COM, REGDB_E_CLASSNOTREG for an unknown class.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** out);
HRESULT OleRun(IUnknown* object);
HRESULT CLSIDFromProgID(const OLECHAR* prog_id, CLSID* clsid);
// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; CO_E_CLASSSTRING when malformed.
HRESULT CLSIDFromString(const OLECHAR* text, CLSID* clsid);

// The class registry behind CoCreateInstance. A factory makes a new object
// and answers the interface asked for. Registering a class again replaces
// the factory (tests put fakes in place of real classes that way); a null
// factory removes the class. prog_id may be null.
using ComFactory = HRESULT (*)(REFIID riid, void** out);
void ComRegisterClass(REFCLSID clsid, const char16_t* prog_id, ComFactory factory);
ComFactory ComFindClass(REFCLSID clsid);

// Reference counting for COM-style objects: AddRef/Release with the object
// deleted when the count drops to zero. Derive from the interfaces and from
// this, and answer QueryInterface yourself.
class ComRefCount {
 public:
  zwin::ULONG DoAddRef() { return ++refs_; }
  zwin::ULONG DoRelease();  // deletes this (through the virtual destructor) at 0

 protected:
  virtual ~ComRefCount() = default;

 private:
  std::atomic<zwin::ULONG> refs_{1};  // the creator's reference
};
