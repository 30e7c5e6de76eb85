// Data objects over ODBC: Connection, Recordset, Fields, Field, Errors and
// Error as COM-style objects. A connection string is handed to the ODBC
// driver manager as it is, so "DSN=name" reaches any data source of
// odbc.ini.
//
// Every operation returns an HRESULT. A failure sets error information
// (Source "ADODB.Connection" or "ADODB.Recordset", and a Description) on the
// calling thread, and each object answers ISupportErrorInfo for the
// interfaces its failures name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/com.h"

// Identifiers.
extern const CLSID CLSID_Connection;    // {00000514-0000-0010-8000-00AA006D2EA4}
extern const CLSID CLSID_Recordset;     // {00000535-0000-0010-8000-00AA006D2EA4}
extern const IID IID__Connection;       // {00000550-...}
extern const IID IID__Recordset;        // {00000556-...}
extern const IID IID_Connection15;      // {00000515-...}
extern const IID IID_Recordset15;       // {0000050E-...}
extern const IID IID__Collection;       // {00000512-...}
extern const IID IID_Fields15;          // {00000506-...}
extern const IID IID_Fields;            // {0000054D-...}
extern const IID IID_Field20;           // {0000054C-...}
extern const IID IID_Field;             // {00000569-...}
extern const IID IID_Errors;            // {00000501-...}
extern const IID IID_Error;             // {00000500-...}

// Enumerations.
enum CursorLocationEnum : LONG { adUseServer = 2, adUseClient = 3 };
enum CursorTypeEnum : LONG { adOpenForwardOnly = 0, adOpenKeyset = 1, adOpenDynamic = 2, adOpenStatic = 3 };
enum LockTypeEnum : LONG { adLockReadOnly = 1, adLockPessimistic = 2, adLockOptimistic = 3, adLockBatchOptimistic = 4 };
inline constexpr LONG adCmdUnspecified = -1;
inline constexpr LONG adConnectUnspecified = -1;
enum ObjectStateEnum : LONG {
  adStateClosed = 0,
  adStateOpen = 1,
  adStateConnecting = 2,
  adStateExecuting = 4,
  adStateFetching = 8,
};
enum DataTypeEnum : LONG {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adCurrency = 6,
  adDate = 7,
  adBSTR = 8,
  adBoolean = 11,
  adDecimal = 14,
  adTinyInt = 16,
  adUnsignedTinyInt = 17,
  adUnsignedSmallInt = 18,
  adUnsignedInt = 19,
  adBigInt = 20,
  adUnsignedBigInt = 21,
  adGUID = 72,
  adBinary = 128,
  adChar = 129,
  adWChar = 130,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarChar = 200,
  adLongVarChar = 201,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};
// Record status of a record that is unchanged.
inline constexpr LONG adRecOK = 0;
// Field status of a field whose value was read.
inline constexpr LONG adFieldOK = 0;
// Field attribute bits.
inline constexpr LONG adFldMayBeNull = 0x40;
inline constexpr LONG adFldIsNullable = 0x20;
inline constexpr LONG adFldLong = 0x80;
inline constexpr LONG adFldFixed = 0x10;

struct Error;
struct Errors;
struct Field;
struct Fields;

struct Error : IDispatch {
  virtual HRESULT get_Number(LONG* number) = 0;
  virtual HRESULT get_Description(BSTR* description) = 0;
  virtual HRESULT get_Source(BSTR* source) = 0;
  virtual HRESULT get_SQLState(BSTR* state) = 0;
  virtual HRESULT get_NativeError(LONG* native) = 0;
};

struct Errors : IDispatch {
  virtual HRESULT get_Count(LONG* count) = 0;
  // index: any integer VARIANT (VT_I2, VT_I4, ...), 0-based.
  virtual HRESULT get_Item(VARIANT index, Error** item) = 0;
};

struct Field : IDispatch {
  virtual HRESULT get_Name(BSTR* name) = 0;
  // A copy of the value, owned by the caller. A database null is VT_NULL.
  virtual HRESULT get_Value(VARIANT* value) = 0;
  virtual HRESULT get_Type(LONG* type) = 0;  // DataTypeEnum
  // Length of the value in bytes as the driver reports it; 0 for a null and
  // for the empty text.
  virtual HRESULT get_ActualSize(LONG* size) = 0;
  virtual HRESULT get_DefinedSize(LONG* size) = 0;
  virtual HRESULT get_Attributes(LONG* attributes) = 0;
  virtual HRESULT get_Status(LONG* status) = 0;
};

struct Fields : IDispatch {
  virtual HRESULT get_Count(LONG* count) = 0;
  // index: an integer VARIANT (0-based position) or a VT_BSTR field name.
  virtual HRESULT get_Item(VARIANT index, Field** item) = 0;
};

struct _Connection : IDispatch {
  virtual HRESULT get_ConnectionString(BSTR* text) = 0;
  virtual HRESULT put_ConnectionString(BSTR text) = 0;
  // Empty (or null) texts take the ConnectionString property; a non-empty
  // connection_string replaces it.
  virtual HRESULT Open(BSTR connection_string, BSTR user_id, BSTR password, LONG options) = 0;
  virtual HRESULT Close() = 0;
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT get_Errors(Errors** errors) = 0;
  virtual HRESULT get_CommandTimeout(LONG* seconds) = 0;
  virtual HRESULT put_CommandTimeout(LONG seconds) = 0;
};

struct _Recordset : IDispatch {
  virtual HRESULT get_CursorLocation(LONG* location) = 0;
  virtual HRESULT put_CursorLocation(LONG location) = 0;
  virtual HRESULT get_MaxRecords(LONG* max) = 0;
  virtual HRESULT put_MaxRecords(LONG max) = 0;
  // source: VT_BSTR statement. active_connection: VT_BSTR connection string,
  // or VT_DISPATCH/VT_UNKNOWN of an open _Connection.
  virtual HRESULT Open(VARIANT source, VARIANT active_connection, LONG cursor_type,
                       LONG lock_type, LONG options) = 0;
  virtual HRESULT get_State(LONG* state) = 0;
  virtual HRESULT get_Status(LONG* status) = 0;
  virtual HRESULT get_RecordCount(LONG* count) = 0;
  virtual HRESULT get_EOF(VARIANT_BOOL* eof) = 0;
  virtual HRESULT get_BOF(VARIANT_BOOL* bof) = 0;
  virtual HRESULT get_Fields(Fields** fields) = 0;
  // VT_DISPATCH holding the _Connection the recordset ran on.
  virtual HRESULT get_ActiveConnection(VARIANT* connection) = 0;
  virtual HRESULT MoveNext() = 0;
  virtual HRESULT MoveFirst() = 0;
  virtual HRESULT Close() = 0;
};

// Puts the Connection and Recordset classes into the COM class registry
// (CLSID_Connection / "ADODB.Connection", CLSID_Recordset /
// "ADODB.Recordset"). Idempotent and thread-safe; the service calls it once
// at start-up, tests call it before they create objects.
void AdoRegisterClasses();

// Statement time limit in seconds used when a Recordset or Connection does
// not set its own (ADO's default command time-out).
inline constexpr LONG kAdoDefaultCommandTimeout = 30;

// Bounds on what the process's Recordsets hold, for a program whose every
// Recordset is read forward once. Set them before the first Open; by
// default nothing is bounded.
struct AdoResultLimits {
  // A Recordset without MaxRecords stops reading a result whose text size
  // passes this many bytes, and its Open fails with kAdoResultTooLarge. The
  // text size is what the values take as UTF-8 text plus one byte per value
  // (for a separator): any reply that shows every value as text takes at
  // least that. 0: no bound.
  uint64_t max_text_bytes = 0;
  // MoveNext gives back the rows the walk has left, a block of rows at a
  // time, so a walk holds only what is still ahead of it; MoveFirst is
  // refused.
  bool forward_only = false;
};
void AdoSetResultLimits(const AdoResultLimits& limits);
AdoResultLimits AdoGetResultLimits();

// Open's failure for a result past AdoResultLimits::max_text_bytes
// (ERROR_NOT_ENOUGH_QUOTA).
inline constexpr HRESULT kAdoResultTooLarge = HRESULT_FROM_WIN32(1816);

// Stopping the statements of one thread from another thread.
//
// An AdoStatementCancel made on a thread covers the statements that
// Recordset.Open runs on that thread while it lives. Cancel(), called from
// any other thread, interrupts the statement running then with the driver's
// SQLCancel and makes every later one fail at once. Recordset.Open then
// fails with adErrOperationCancelled, and its ODBC connection is closed
// instead of being kept for reuse: the database may still be finishing the
// cancel, which could hit the next statement on that connection.
//
// The driver is interrupted while it executes the statement, which is where
// a statement spends its time with the drivers this layer knows (they read
// the result, or its first block, before SQLExecDirect returns). A statement
// cancelled while its rows are fetched stops before the next fetch.

namespace zado {
struct CancelState;
}

class AdoStatementCancel {
 public:
  AdoStatementCancel();  // covers the calling thread until destroyed
  ~AdoStatementCancel();
  AdoStatementCancel(const AdoStatementCancel&) = delete;
  AdoStatementCancel& operator=(const AdoStatementCancel&) = delete;

  // Thread-safe; only the first call acts. True when a statement was running
  // (executing or fetching) and is being stopped. Blocks as long as the
  // driver's SQLCancel takes (usually a few milliseconds; a driver that sends
  // the cancel over the network waits for that).
  bool Cancel();
  bool Cancelled() const;

 private:
  std::unique_ptr<zado::CancelState> state_;
  zado::CancelState* previous_;  // of the thread, restored at destruction
};

// How many ODBC connections the data-object layer holds, per data source,
// for the service's metrics.

struct AdoPoolUsage {
  // The DSN= value of the connection strings, in lower case (unixODBC
  // ignores the case of names); "" for connection strings without one.
  std::string dsn;
  uint64_t idle = 0;   // kept for reuse
  uint64_t busy = 0;   // held by Connection and Recordset objects now
  // Since start: times an object found no idle connection to take and waited
  // for a new one to be opened.
  uint64_t waits = 0;
};

// One entry per data source that has had a connection since start (at most
// 256 names; later names are counted under "").
std::vector<AdoPoolUsage> AdoPoolUsageByDsn();
