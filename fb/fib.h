// The database layer's exceptions and its numbered client messages.
//
// A failure that the server or the client library reports becomes an
// EFIBInterBaseError whose message is composed from the calling thread's status
// vector; a failure found by the layer's own checks becomes an EFIBClientError with
// one of the numbered messages. The message texts reach the terminals, so their
// line layout is fixed.
#pragma once

#include <initializer_list>
#include <string>

#include "runtime/Exception.h"
#include "runtime/Format.h"

class IIBClientLibrary;
class TComponent;

DORVANA_EXCEPTION(EDatabaseError, Exception);

// Carries every field; the two descendants add none.
class EFIBError : public EDatabaseError {
 public:
  explicit EFIBError(std::string message) : EDatabaseError(std::move(message)) {}
  std::string ClassName() const override { return "EFIBError"; }

  int SqlCode = 0;
  int FirstErrorCode = 0;
  std::string SourceName;
  std::string SqlText;
  std::string ServerText;
  std::string ExtraText;
  std::string CustomText;
  TComponent* Source = nullptr;
};

DORVANA_EXCEPTION(EFIBInterBaseError, EFIBError);

// What the server reports when a statement wrote what another transaction writes
// at the same time: a lock or update conflict, or a deadlock.
bool IsLockConflict(const EFIBError& error);
// ... or stored a unique value (a key, a unique index) another one already holds.
bool IsUniqueViolation(const EFIBError& error);
// What the client library reports when the connection itself is gone: the
// network was cut, the server restarted or shut the database or the connection
// down. Only the server's and library's errors count, never the layer's own.
bool IsConnectionLost(const EFIBError& error);
DORVANA_EXCEPTION(EFIBClientError, EFIBError);

// The numbered client messages.
enum TFIBClientErrorCode : int {
  fbceUnknownError = 0,
  fbceUnsupportedFeature = 1,
  fbceNotPermitted = 2,
  fbceFileAccessError = 3,
  fbceConnectionTimeout = 4,
  fbceCannotSetDatabase = 5,
  fbceCannotSetTransaction = 6,
  fbceOperationCancelled = 7,
  fbceDPBConstantNotSupported = 8,
  fbceDPBConstantUnknown = 9,
  fbceTPBConstantNotSupported = 10,
  fbceTPBConstantUnknown = 11,
  fbceDatabaseClosed = 12,
  fbceDatabaseOpen = 13,
  fbceDatabaseNameMissing = 14,
  fbceNotInTransaction = 15,
  fbceInTransaction = 16,
  fbceTimeoutNegative = 17,
  fbceNoDatabasesInTransaction = 18,
  fbceUpdateWrongDB = 19,
  fbceUpdateWrongTR = 20,
  fbceDatabaseNotAssigned = 21,
  fbceTransactionNotAssigned = 22,
  fbceXSQLDAIndexOutOfRange = 23,
  fbceXSQLDANameDoesNotExist = 24,
  fbceEOF = 25,
  fbceBOF = 26,
  fbceInvalidStatementHandle = 27,
  fbceSQLOpen = 28,
  fbceSQLClosed = 29,
  fbceUnknownSQLDataType = 30,
  fbceInvalidColumnIndex = 31,
  fbceInvalidParamColumnIndex = 32,
  fbceInvalidDataConversion = 33,
  fbceColumnIsNotNullable = 34,
  fbceBlobCannotBeRead = 35,
  fbceBlobCannotBeWritten = 36,
  fbceEmptyQuery = 37,
  fbceCannotOpenNonSQLSelect = 38,
  fbceNoFieldAccess = 39,
  fbceFieldReadOnly = 40,
  fbceFieldNotFound = 41,
  fbceNotEditing = 42,
  fbceNotEditing2 = 43,
  fbceCannotInsert = 44,
  fbceCannotPost = 45,
  fbceCannotUpdate = 46,
  fbceCannotDelete = 47,
  fbceCannotRefresh = 48,
  fbceBufferNotSet = 49,
  fbceCircularReference = 50,
  fbceSQLParseError = 51,
  fbceUserAbort = 52,
  fbceDataSetUniDirectional = 53,
  fbceCannotCreateSharedResource = 54,
  fbceWindowsAPIError = 55,
  fbceColumnListsDontMatch = 56,
  fbceColumnTypesDontMatch = 57,
  fbceCantEndSharedTransaction = 58,
  fbceFieldIsNotArray = 59,
  fbceDimensionNotExist = 60,
  fbceSQLDialectInvalid = 61,
  fbceIB60feature2 = 62,
  fbceIB60feature = 63,
  fbceIBInstallNotFound = 64,
  fbceServiceActive = 65,
  fbceServiceInActive = 66,
  fbceServerNameMissing = 67,
  fbceQueryParamsError = 68,
  fbceStartParamsError = 69,
  fbceOutputParsingError = 70,
  fbceUseSpecificProcedures = 71,
  fbceSPBConstantNotSupported = 72,
  fbceSPBConstantUnknown = 73,
  fbceFieldSizeError = 74,
  fbceCantUseLimitedCache = 75,
  fbceFieldListEmpty = 76,
  fbceCantUseField = 77,
  fbceFB2feature = 78,
};
constexpr int kFIBClientMessageCount = 79;

// The message of a number, placeholders unfilled; empty outside 0..78.
const char* FIBClientMessage(int number);

// Builds an EFIBInterBaseError from the calling thread's status vector and raises
// it. raiser names the component in the first line (may be null).
[[noreturn]] void RaiseServerError(IIBClientLibrary& library, TComponent* raiser);
// Composes the exception RaiseServerError raises, without raising it.
EFIBInterBaseError ServerError(IIBClientLibrary& library, TComponent* raiser);

// Raises EFIBClientError with the numbered message formatted with args.
[[noreturn]] void RaiseClientError(int number, std::initializer_list<TFormatArg> args = {});
// Raises EFIBClientError with a message of its own (SqlCode -1).
[[noreturn]] void RaiseClientErrorText(const std::string& message);
