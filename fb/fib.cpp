#include "fb/fib.h"

#include "fb/IB_Intf.h"
#include "runtime/Component.h"
#include "runtime/Text.h"

namespace {

// A blank at the end of a text belongs to it.
const char* const kClientMessages[kFIBClientMessageCount] = {
    "Unknown error.",
    "Unsupported feature.",
    "Not permitted.",
    "Temporary file access error.",
    "Database connection timed out.",
    "Cannot set database.",
    "Cannot set transaction.",
    "Operation cancelled at user's request.",
    "DPB Constant (isc_dpb_%s) is unsupported.",
    "DPB Constant (%s) is unknown.",
    "TPB Constant (isc_tpb_%s) is unsupported.",
    "TPB Constant (%s) is unknown.",
    "%s: Cannot perform operation -- DB is not open.",
    "Cannot perform operation -- DB is currently open.",
    "Database name is missing.",
    "%s :Transaction is not active.",
    "%s :Transaction is active.",
    "Timeout values cannot be negative.",
    "%s :No databases are listed in transaction component.",
    "%s :Updating wrong database.",
    "%s :Updating wrong transaction.",
    "Database not assigned for %s.",
    "Transaction not assigned for %s.",
    "XSQLDA index out of range.",
    "XSQLDA name does not exist (%s).",
    "End of file.",
    "Beginning of file.",
    "%s:Invalid statement handle.",
    "Can't %s because %s dataset open.",
    "Can't %s because %s dataset closed.",
    "Unknown SQL Data type (%d).",
    "Invalid column index (index exceeds permitted range).",
    "Invalid parameter index (index exceeds permitted range).",
    "Invalid data conversion.",
    "Column cannot be set to null (%s)",
    "Blob stream cannot be read.",
    "Blob stream cannot be written.",
    "Can't %s , because  query is empty",
    "Can't \"open\" a non-select statement. Use ExecQuery.",
    "No access to field \"%s\".",
    "Field \"%s\" is read-only.",
    "Field \"%s\" not found.",
    "DataSet not in Edit or Insert mode.(%s)",
    "Not editing.",
    "Can't insert into dataset. (%s)",
    "Can't post. (%s) ",
    "Can't update. (%s)",
    "Can't delete from dataset. (%s)",
    "Can't refresh row. (%s)",
    "Buffer not set.",
    "Circular references not permitted.(%s)",
    "SQL Parse Error in :%s \r\n\r\n%s",
    "User abort.",
    "Data set is uni-directional.",
    "Cannot create shared resource. (Windows error %d)",
    "Windows API error. (Windows error %d [$%.8x])",
    "Column lists do not match.",
    "Column types don't match. (From index: %d, To index: %d)",
    "Can't end a shared transaction unless it is forced and equal to the transaction's "
    "TimeoutAction.",
    "Column types \"%s\" is not array field",
    "Dimension %d don't exist in \"%s\" ",
    "SQL Dialect invalid",
    "InterBase library gds32.dll not found in the path. Please install InterBase to use this "
    "functionality",
    "%s is an InterBase6 function. Please upgrade to InterBase6 to use this functonality",
    "InterBase Install DLL ibinstall.dll not found in the path. Please install InterBase 6 to "
    "use this functionality",
    "Cannot perform operation -- service is not attached",
    "Cannot perform operation -- service is attached",
    "Server Name Missing",
    "Query Parameters missing or incorrect",
    "Start Parameters missing or incorrect",
    "Unexpected Output buffer value",
    "Generic ServiceStart not applicable: Use Specific Procedures to set configuration params",
    "SPB Constant Not supported",
    "SPB Constant Unknown",
    "Field Size too small. Field %s.%s",
    "%s. Can't use limited cache. \r\nCachedUpdates must be False,\r\nSelect must have \"Order "
    "by\" clause ,\r\nAll order fields must exist in fields section\r\nSelect can't use params "
    "with prefix \"NEW_\"\r\nUpdateTransaction must be equel Transaction or AutoCommit=True ",
    "Error in %s. FieldList is empty.",
    "%s can't use field \"%s\"",
    "%s is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality",
};

void CapitalizeFirst(std::string& s) {
  if (!s.empty()) s[0] = UpperAscii(s[0]);
}

// The client library writes "\n" as two characters in some texts. One pass: what
// the removal joins is not looked at again.
void RemoveEscapedLineBreaks(std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      ++i;
      continue;
    }
    out += s[i];
  }
  s = std::move(out);
}

[[noreturn]] void ThrowClientError(int number, std::string message) {
  EFIBClientError e(message);
  e.SqlCode = number;
  e.FirstErrorCode = static_cast<int>(StatusVector()[1]);
  e.CustomText = std::move(message);
  throw e;
}

}  // namespace

bool IsLockConflict(const EFIBError& error) {
  switch (error.FirstErrorCode) {
    case isc_deadlock:
    case isc_lock_conflict:
    case isc_update_conflict:
      return true;
    default:
      return false;
  }
}

bool IsUniqueViolation(const EFIBError& error) {
  return error.FirstErrorCode == isc_no_dup || error.FirstErrorCode == isc_unique_key_violation;
}

bool IsConnectionLost(const EFIBError& error) {
  if (!dynamic_cast<const EFIBInterBaseError*>(&error)) return false;
  switch (error.FirstErrorCode) {
    case isc_network_error:
    case isc_net_read_err:
    case isc_net_write_err:
    case isc_lost_db_connection:
    case isc_conn_lost:
    case isc_shutdown:
    case isc_att_shutdown:
      return true;
    default:
      return false;
  }
}

const char* FIBClientMessage(int number) {
  if (number < 0 || number >= kFIBClientMessageCount) return "";
  return kClientMessages[number];
}

EFIBInterBaseError ServerError(IIBClientLibrary& library, TComponent* raiser) {
  ISC_STATUS* status = StatusVector();
  const int sqlCode = static_cast<int>(library.isc_sqlcode(status));

  std::string sqlText;
  {
    char buffer[1024] = {};
    library.isc_sql_interprete(static_cast<short>(sqlCode), buffer,
                               static_cast<short>(sizeof buffer));
    buffer[sizeof buffer - 1] = '\0';
    sqlText = buffer;
    RemoveEscapedLineBreaks(sqlText);
    if (!sqlText.empty()) {
      CapitalizeFirst(sqlText);
      // A text that already ends with "." gets no line break: the first status
      // line runs on after it.
      if (sqlText.back() != '.') sqlText += ".\r\n";
    }
  }

  std::string serverText;
  {
    std::string buffer(20480, '\0');
    ISC_STATUS* cursor = status;
    while (library.isc_interprete(buffer.data(), &cursor) > 0) {
      std::string line(buffer.c_str());
      if (line.empty()) continue;
      CapitalizeFirst(line);
      serverText += line;
      if (serverText.back() != '.') serverText += '.';
      serverText += "\r\n";
    }
  }

  EFIBInterBaseError e("");
  e.SqlCode = sqlCode;
  e.FirstErrorCode = static_cast<int>(status[1]);
  if (raiser) e.SourceName = raiser->FullName();
  e.SqlText = sqlText;
  e.ServerText = serverText;
  e.Source = raiser;
  std::string message;
  if (e.SourceName.size() > 1) message = e.SourceName + ":\r\n";
  message += e.SqlText;
  message += e.ServerText;
  if (!e.ExtraText.empty()) message += e.ExtraText;
  message += e.CustomText;
  e.SetMessage(message);
  return e;
}

void RaiseServerError(IIBClientLibrary& library, TComponent* raiser) {
  throw ServerError(library, raiser);
}

void RaiseClientError(int number, std::initializer_list<TFormatArg> args) {
  ThrowClientError(number, Format(FIBClientMessage(number), args));
}

void RaiseClientErrorText(const std::string& message) { ThrowClientError(-1, message); }
