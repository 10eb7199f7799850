#include "fb/FIBQuery.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "fb/FIBInternal.h"
#include "fb/fib.h"
#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

// The bytes written to a blob per call.
constexpr size_t kBlobSegment = 32768;
// What the fetch call returns past the last row.
constexpr ISC_STATUS kFetchEnd = 100;

bool StatusHolds(const ISC_STATUS* status, ISC_STATUS code) {
  // The vector is a list of (argument kind, value) pairs ended by isc_arg_end.
  for (int i = 0; i + 1 < kStatusVectorLength && status[i] != isc_arg_end; i += 2) {
    if (status[i] == isc_arg_gds && status[i + 1] == code) return true;
    if (status[i] == isc_arg_cstring) ++i;  // this kind carries a length and a pointer
  }
  return false;
}

}  // namespace

// ---- TFIBQuery: lines ----------------------------------------------------------------

void TFIBQuery::TSQLLines::Clear() {
  if (FLines.Empty()) return;
  FQuery.BeforeSQLChange();
  FLines.Clear();
  FQuery.AfterSQLChange();
}

void TFIBQuery::TSQLLines::Add(const std::string& line) {
  FQuery.BeforeSQLChange();
  FLines.Add(line);
  FQuery.AfterSQLChange();
}

void TFIBQuery::TSQLLines::SetText(const std::string& text) {
  FQuery.BeforeSQLChange();
  FLines.SetText(text);
  FQuery.AfterSQLChange();
}

// ---- TFIBQuery -------------------------------------------------------------------------

TFIBQuery::TFIBQuery(TComponent* owner)
    : TComponent(owner),
      FParams(std::make_unique<TFIBXSQLDA>(this, true)),
      FServerParams(std::make_unique<TFIBXSQLDA>(this, true)),
      FColumns(std::make_unique<TFIBXSQLDA>(this, false)) {
  FBase.OnNotice = [this](TFIBNotice notice) { OnNotice(notice); };
}

TFIBQuery::~TFIBQuery() {
  try {
    if (FOpen) CloseResult();
  } catch (...) {
  }
  try {
    if (FHandle) DropHandle();
  } catch (...) {
  }
  DropKeptStatements(false);
  FBase.OnNotice = nullptr;
}

void TFIBQuery::SetDatabase(TFIBDatabase* database) {
  if (database == Database()) return;
  // A handle belongs to the attachment it was made on.
  DropKeptStatements(false);
  if (FHandle) {
    try {
      if (FOpen) CloseResult();
      DropHandle();
    } catch (...) {
      FHandle.Forget();
      FPrepared = false;
      FOpen = false;
    }
  }
  FBase.SetDatabase(database);
}

void TFIBQuery::SetTransaction(TFIBTransaction* transaction) { FBase.SetTransaction(transaction); }

IIBClientLibrary& TFIBQuery::Library() const {
  if (!Database()) RaiseClientError(fbceDatabaseNotAssigned, {FullName()});
  IIBClientLibrary* lib = Database()->ClientLibrary();
  if (!lib) RaiseClientError(fbceDatabaseClosed, {Database()->FullName()});
  return *lib;
}

TFBStatus TFIBQuery::Check(TFBStatus status, bool raise) {
  if (TFIBTransaction* t = Transaction()) t->CheckStatus(status, false);
  if (raise && status > 0) RaiseServerError(Library(), this);
  return status;
}

void TFIBQuery::OnNotice(TFIBNotice notice) {
  switch (notice) {
    case fnTransactionEnding: {
      const TFIBTransaction* t = Transaction();
      if (t && FOpen &&
          (t->TransactionState() == tsDoRollback || t->TransactionState() == tsDoCommit))
        CloseResult();
      break;
    }
    case fnDatabaseDisconnecting:
      DropKeptStatements(false);
      if (FHandle) {
        CloseResult();
        DropHandle();
      }
      break;
    case fnDatabaseDisconnected:
      // Detached, even where closing the result or dropping the handle failed
      // before: the handle died with its attachment and must never be used on
      // the next one.
      DropKeptStatements(true);
      FHandle.Forget();
      FPrepared = false;
      FOpen = false;
      break;
    case fnDatabaseFree:
      // The attachment is gone and its statement handles with it.
      FBase.SetTransaction(nullptr);
      DropKeptStatements(true);
      FHandle.Forget();
      FPrepared = false;
      FOpen = false;
      break;
    default:
      break;
  }
}

// ---- SQL changes -------------------------------------------------------------------------

void TFIBQuery::BeforeSQLChange() {
  if (FOpen) RaiseClientError(fbceSQLOpen, {"change sql text", FullName()});
  if (OnSQLChanging) OnSQLChanging(*this);
  if (FKeepLimit > 0 && FHandle && FPrepared && FParamsScanned && !FHasBlobParams)
    KeepStatement();
  else if (FHandle)
    DropHandle();
}

void TFIBQuery::AfterSQLChange() {
  FKind = StatementKindOf(FSQL.Text());
  FParamCheckInForce = FParamCheck;
  FParamsScanned = false;
  FPrepared = false;
  if (TakeKeptStatement()) return;
  ScanCallerParams();
  DropHandle();
}

// ---- Kept statements ---------------------------------------------------------------------

void TFIBQuery::SetKeptStatements(int count) {
  FKeepLimit = std::max(count, 0);
  while (static_cast<int>(FKept.size()) > FKeepLimit) {
    DropKept(FKept.front(), false);
    FKept.erase(FKept.begin());
  }
}

void TFIBQuery::KeepStatement() {
  TKeptStatement kept;
  kept.Text = FSQL.Text();
  kept.Kind = FKind;
  kept.ServerText = FServerText;
  kept.Handle = std::move(FHandle);
  kept.SQLType = FSQLType;
  kept.ParamCheckInForce = FParamCheckInForce;
  kept.CursorName = std::move(FCursorName);
  kept.Params = std::exchange(FParams, std::make_unique<TFIBXSQLDA>(this, true));
  kept.ServerParams = std::exchange(FServerParams, std::make_unique<TFIBXSQLDA>(this, true));
  kept.Columns = std::exchange(FColumns, std::make_unique<TFIBXSQLDA>(this, false));
  FCursorName.clear();
  FPrepared = false;
  FOpen = false;
  FEOF = false;
  FKept.push_back(std::move(kept));
  if (static_cast<int>(FKept.size()) > FKeepLimit) {
    DropKept(FKept.front(), false);
    FKept.erase(FKept.begin());
  }
}

bool TFIBQuery::TakeKeptStatement() {
  if (FKept.empty() || FHandle) return false;
  const std::string text = FSQL.Text();
  for (auto it = FKept.begin(); it != FKept.end(); ++it) {
    if (it->Text != text || it->ParamCheckInForce != FParamCheckInForce) continue;
    FKind = it->Kind;
    FServerText = std::move(it->ServerText);
    FHandle = std::move(it->Handle);
    FSQLType = it->SQLType;
    FCursorName = std::move(it->CursorName);
    FParams = std::move(it->Params);
    FServerParams = std::move(it->ServerParams);
    FColumns = std::move(it->Columns);
    FKept.erase(it);
    FParamsScanned = true;
    FPrepared = true;
    FOpen = false;
    FEOF = false;
    return true;
  }
  return false;
}

void TFIBQuery::DropKept(TKeptStatement& kept, bool forget) {
  if (!kept.Handle) return;
  IIBClientLibrary* lib = Database() ? Database()->ClientLibrary() : nullptr;
  if (forget || !lib) {
    kept.Handle.Forget();
    return;
  }
  ISC_STATUS* status = StatusVector();
  // A failure to drop is no failure of the statement now in use.
  kept.Handle.End(
      [&](TFBHandleValue* handle) {
        return lib->isc_dsql_free_statement(status, handle, DSQL_drop);
      },
      true);
}

void TFIBQuery::DropKeptStatements(bool forget) {
  for (TKeptStatement& kept : FKept) DropKept(kept, forget);
  FKept.clear();
}

void TFIBQuery::ScanCallerParams() {
  const std::string text = FSQL.Text();
  if (FParamCheckInForce && FSQL.Count() > 0 && HasParamMarker(text)) {
    TScanResult scan = ScanParams(text, FKind, smCaller, FullName());
    FParams = BuildParamArea(scan, *FParams);
    if (FParams->Count() > 0) {
      FServerText.clear();  // built at preparation
    } else {
      FServerParams->SetCount(0);
      FServerText = text;
    }
  } else {
    FParams->SetCount(0);
    FServerParams->SetCount(0);
    FServerText = text;
  }
  FParamsScanned = true;
}

std::unique_ptr<TFIBXSQLDA> TFIBQuery::BuildParamArea(const TScanResult& scan,
                                                      const TFIBXSQLDA& old) {
  auto area = std::make_unique<TFIBXSQLDA>(this, true);
  area->SetCount(static_cast<int>(scan.Params.size()));
  for (int i = 0; i < area->Count(); ++i) {
    const TParamRef& ref = scan.Params[i];
    TFIBXSQLVAR& v = *area->FVars[i];
    v.FName = ref.Quoted ? ref.Name : UpperCase(ref.Name);
    area->AddName(v.FName, i);
    // A value assigned before the change survives it.
    const TFIBXSQLVAR* previous = old.FindOwnName(UpperCase(v.FName));
    if (previous && previous->SQLType() != SQL_BLOB) v.CopyValueFrom(*previous);
  }
  return area;
}

// ---- Preparation -------------------------------------------------------------------------

void TFIBQuery::StartTransactionIfAsked() {
  TFIBTransaction* t = Transaction();
  if (FOptions.Contains(qoStartTransaction) && t && !t->Active()) t->StartTransaction();
}

void TFIBQuery::Prepare() {
  if (FOpen) CloseResult();
  FBase.CheckDatabase();
  StartTransactionIfAsked();
  FBase.CheckTransaction();
  // A text whose scan failed is scanned again, so its error repeats here rather
  // than the statement running with the parameters of an older text.
  if (FParamCheckInForce && (!FParamsScanned || FParams->Count() > 0)) {
    if (!FParamsScanned) ScanCallerParams();
    if (FParams->Count() > 0 && !FPrepared) {
      TScanResult scan = ScanParams(FSQL.Text(), FKind, smServer, FullName());
      FServerParams = BuildParamArea(scan, *FServerParams);
      FServerText = std::move(scan.ServerText);
      DropHandle();
    }
  }
  if (FPrepared) return;
  if (Trim(FServerText).empty()) RaiseClientError(fbceEmptyQuery, {"Prepare"});
  try {
    DoPrepare();
  } catch (...) {
    try {
      if (FHandle) DropHandle();  // gives the handle up even where it raises
    } catch (...) {
    }
    FPrepared = false;
    throw;
  }
}

void TFIBQuery::DoPrepare() {
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());

  Check(FHandle.Open(lib,
                     [&](TFBHandleValue* handle) {
                       return lib.isc_dsql_alloc_statement2(status, FBase.DBHandle(), handle);
                     }),
        true);
  FColumns->SetCount(1);
  Check(lib.isc_dsql_prepare(status, FBase.TRHandle(), FHandle.Ref(), 0, FServerText.c_str(),
                             dialect, FColumns->AsXSQLDA()),
        true);

  char item = isc_info_sql_stmt_type;
  char info[8] = {};
  Check(lib.isc_dsql_sql_info(status, FHandle.Ref(), 1, &item, sizeof info, info), true);
  if (info[0] != isc_info_sql_stmt_type) RaiseClientError(fbceUnknownError);
  const int length = static_cast<int>(lib.isc_vax_integer(info + 1, 2));
  if (length < 0 || length > 4) RaiseClientError(fbceUnknownError);
  FSQLType = static_cast<TFIBSQLTypes>(lib.isc_vax_integer(info + 3, static_cast<short>(length)));

  if (FSQLType == SQLSelectForUpdate) {
    if (FCursorName.empty()) {
      static uint32_t counter = 0;
      char name[16];
      std::snprintf(name, sizeof name, "%010u",
                    static_cast<unsigned>(platform::TickCount() + ++counter) % 1000000000u);
      FCursorName = name;
    }
    Check(lib.isc_dsql_set_cursor_name(status, FHandle.Ref(), FCursorName.c_str(), 0), true);
  }

  switch (FSQLType) {
    case SQLSelect:
    case SQLInsert:
    case SQLUpdate:
    case SQLDelete:
    case SQLExecProcedure:
    case SQLSelectForUpdate: {
      if (FParams->AsXSQLDA() && FServerParams->AsXSQLDA()) {
        if (Check(lib.isc_dsql_describe_bind(status, FHandle.Ref(), dialect,
                                             FServerParams->AsXSQLDA()),
                  false) > 0)
          RaiseServerError(lib, this);
        ReconcileParams();
      }
      FServerParams->Setup();
      if (FSQLType == SQLSelect || FSQLType == SQLExecProcedure || FSQLType == SQLSelectForUpdate) {
        const XSQLDA* described = FColumns->AsXSQLDA();
        if (described->sqld > described->sqln) {
          FColumns->SetCount(described->sqld);
          Check(lib.isc_dsql_describe(status, FHandle.Ref(), dialect, FColumns->AsXSQLDA()), true);
        } else if (described->sqld == 0) {
          FColumns->SetCount(0);
        }
        FColumns->Setup();
      } else {
        FColumns->SetCount(0);
      }
      FPrepared = true;
      break;
    }
    case SQLGetSegment:
    case SQLPutSegment:
    case SQLStartTransaction:
      DropHandle();
      RaiseClientError(fbceNotPermitted);
    default:
      FPrepared = true;
      break;
  }
}

void TFIBQuery::ReconcileParams() {
  const int n = std::min(FParams->Count(), FServerParams->Count());
  for (int i = 0; i < n; ++i) {
    TFIBXSQLVAR& p = *FParams->FVars[i];
    const XSQLVAR& s = *FServerParams->FVars[i]->Data();
    const int described = s.sqltype & ~1;
    XSQLVAR& slot = *p.Data();
    if (p.IsNull()) {
      // An unassigned or NULL parameter takes the declared type and stays NULL.
      slot.sqltype = static_cast<ISC_SHORT>(described | 1);
      slot.sqlscale = s.sqlscale;
      slot.sqlsubtype = s.sqlsubtype;
      slot.sqllen = s.sqllen;
      const size_t size = FIBBufferSize(described, s.sqllen);
      p.FData.assign(size == 0 ? 1 : size, 0);
      slot.sqldata = p.FData.data();
      p.AllocateIndicator();
      p.FIndicator = -1;
    } else if ((described == SQL_BLOB || described == SQL_ARRAY) && p.SQLType() != SQL_BLOB &&
               p.SQLType() != SQL_ARRAY) {
      const std::string text = p.SQLType() == SQL_TEXT
                                   ? std::string(slot.sqldata, std::max<int>(slot.sqllen, 0))
                                   : p.AsText();
      p.FDescType = described;
      p.FDescSubtype = s.sqlsubtype;
      p.FDescLength = s.sqllen;
      p.FDescScale = s.sqlscale;
      slot.sqltype = static_cast<ISC_SHORT>(described | (slot.sqltype & 1));
      slot.sqlscale = s.sqlscale;
      slot.sqlsubtype = s.sqlsubtype;
      p.SetAsText(text);
    }
  }
}

// ---- Execution ----------------------------------------------------------------------------

void TFIBQuery::ResetColumns() {
  for (int i = 0; i < FColumns->Count(); ++i) {
    TFIBXSQLVAR& v = *FColumns->FVars[i];
    const bool nullable = v.Data()->sqltype & 1;
    v.SetNullOne();
    if (!nullable) {
      v.Data()->sqltype &= ~1;
      v.FreeIndicator();
    }
  }
}

void TFIBQuery::WriteBlobParams() {
  if (!FHasBlobParams) return;
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  for (int i = 0; i < FParams->Count(); ++i) {
    TFIBXSQLVAR& v = *FParams->FVars[i];
    if (!v.FBlobContent) continue;
    TBlobHandle blob(lib);
    ISC_QUAD id{};
    Check(lib.isc_create_blob2(status, FBase.DBHandle(), FBase.TRHandle(), blob.Ref(), &id, 0,
                               nullptr),
          true);
    const std::string& content = *v.FBlobContent;
    for (size_t at = 0; at < content.size(); at += kBlobSegment) {
      const size_t chunk = std::min<size_t>(kBlobSegment, content.size() - at);
      if (Check(lib.isc_put_segment(status, blob.Ref(), static_cast<unsigned short>(chunk),
                                    content.data() + at),
                false) > 0) {
        // Closing the blob overwrites the status vector: compose the error first.
        throw ServerError(lib, this);
      }
    }
    Check(blob.Close(status), true);
    std::memcpy(v.Data()->sqldata, &id, sizeof id);
  }
}

void TFIBQuery::ExecuteImmediate() {
  if (BeforeExecute) BeforeExecute(*this);
  StartTransactionIfAsked();
  if (!Transaction()) RaiseClientError(fbceTransactionNotAssigned, {FullName()});
  FBase.CheckDatabase();
  FBase.CheckTransaction();
  ResetColumns();
  Transaction()->SQLExecuteHook(this, true);
  IIBClientLibrary& lib = Library();
  const std::string text = FSQL.Text();
  Check(lib.isc_dsql_execute_immediate(StatusVector(), FBase.DBHandle(), FBase.TRHandle(), 0,
                                       text.c_str(),
                                       static_cast<unsigned short>(Database()->SQLDialect()),
                                       FParams->Count() > 0 ? FParams->AsXSQLDA() : nullptr),
        true);
}

void TFIBQuery::ExecQuery() {
  if (FKind == skDDL) {
    ExecuteImmediate();
  } else {
    if (BeforeExecute) BeforeExecute(*this);
    StartTransactionIfAsked();
    if (!Transaction()) RaiseClientError(fbceTransactionNotAssigned, {FullName()});
    ResetColumns();
    Transaction()->SQLExecuteHook(this, true);
    if ((FParamCheckInForce && (FParams->Count() > 0 || !FParamsScanned)) || !FPrepared) Prepare();

    WriteBlobParams();
    IIBClientLibrary& lib = Library();
    ISC_STATUS* status = StatusVector();
    const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());
    XSQLDA* input = FParams->Count() > 0 ? FParams->AsXSQLDA() : nullptr;
    switch (FSQLType) {
      case SQLSelect:
      case SQLSelectForUpdate:
        if (FOpen) CloseResult();
        Check(lib.isc_dsql_execute(status, FBase.TRHandle(), FHandle.Ref(), dialect, input), true);
        FOpen = true;
        FEOF = false;
        FRecordCount = 0;
        ResetColumns();
        if (FGoToFirstRecordOnExecute) FetchNext();
        break;
      case SQLExecProcedure: {
        XSQLDA* output = FColumns->Count() > 0 ? FColumns->AsXSQLDA() : nullptr;
        if (Check(lib.isc_dsql_execute2(status, FBase.TRHandle(), FHandle.Ref(), dialect, input,
                                        output),
                  false) != 0)
          RaiseServerError(lib, this);
        FProcExecuted = true;
        break;
      }
      case SQLCommit:
        Transaction()->Commit();
        break;
      case SQLRollback:
        Transaction()->Rollback();
        break;
      default:
        Check(lib.isc_dsql_execute(status, FBase.TRHandle(), FHandle.Ref(), dialect, input), true);
        break;
    }
  }

  if (AfterExecute) AfterExecute(*this);
  if (TFIBTransaction* t = Transaction()) t->SQLExecuteHook(this, false);
  for (int i = 0; i < FParams->Count(); ++i) {
    FParams->FVars[i]->FModified = false;
    FParams->FVars[i]->FBlobContent.reset();
  }
  FHasBlobParams = false;
  if (FOptions.Contains(qoAutoCommit) && Transaction() && Transaction()->Active()) {
    if (Transaction()->TimeoutAction() == TACommitRetaining)
      Transaction()->CommitRetaining();
    else
      Transaction()->Commit();
  }
  if (!FOpen && FOptions.Contains(qoFreeHandleAfterExecute)) DropHandle();
}

// ---- Rows ------------------------------------------------------------------------------------

TFIBXSQLDA* TFIBQuery::FetchNext() {
  if (FEOF) return nullptr;
  if (!FOpen) RaiseClientError(fbceSQLClosed, {"fetch next record", FullName()});
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const ISC_STATUS result =
      Check(lib.isc_dsql_fetch(status, FHandle.Ref(),
                               static_cast<unsigned short>(Database()->SQLDialect()),
                               FColumns->AsXSQLDA()),
            false);
  if (result == 0) {
    ++FRecordCount;
    return FColumns.get();
  }
  if (result == kFetchEnd || StatusHolds(status, isc_dsql_cursor_err)) {
    FEOF = true;
    if (FOptions.Contains(qoFreeHandleAfterExecute)) CloseResult();
    return nullptr;
  }
  // Closing overwrites the status vector: compose the error first.
  EFIBInterBaseError error = ServerError(lib, this);
  try {
    CloseResult();
  } catch (...) {
  }
  throw error;
}

void TFIBQuery::CloseResult() {
  std::optional<EFIBInterBaseError> error;
  if (FHandle && FOpen && (FSQLType == SQLSelect || FSQLType == SQLSelectForUpdate) && Database() &&
      Database()->ClientLibrary()) {
    IIBClientLibrary& lib = *Database()->ClientLibrary();
    ISC_STATUS* status = StatusVector();
    if (Check(lib.isc_dsql_free_statement(status, FHandle.Ref(), DSQL_close), false) > 0 &&
        !StatusHolds(status, isc_bad_stmt_handle) &&
        !StatusHolds(status, isc_dsql_cursor_close_err))
      error.emplace(ServerError(lib, this));
  }
  FOpen = false;
  FEOF = false;
  FProcExecuted = false;
  if (FOptions.Contains(qoFreeHandleAfterExecute)) {
    try {
      DropHandle();
    } catch (...) {
      if (!error) throw;
    }
  }
  if (error) throw *error;
}

void TFIBQuery::DropHandle() {
  std::optional<EFIBInterBaseError> error;
  FColumns->SetCount(0);
  if (FHandle) {
    if (Database() && Database()->ClientLibrary()) {
      IIBClientLibrary& lib = *Database()->ClientLibrary();
      ISC_STATUS* status = StatusVector();
      const TFBStatus result = FHandle.End(
          [&](TFBHandleValue* handle) {
            return lib.isc_dsql_free_statement(status, handle, DSQL_drop);
          },
          true);
      if (Check(result, false) > 0 && !StatusHolds(status, isc_bad_stmt_handle))
        error.emplace(ServerError(lib, this));
    } else {
      FHandle.Forget();  // no library left to drop it with: the attachment is gone
    }
    FEOF = true;
  }
  // Without a handle no result can be open.
  FOpen = false;
  FPrepared = false;
  if (error) throw *error;
}

// ---- Lookup ------------------------------------------------------------------------------------

TFIBXSQLVAR& TFIBQuery::ColumnNamed(const std::string& name) {
  if (TFIBXSQLVAR* v = FColumns->ByName(name)) return *v;
  RaiseClientError(fbceFieldNotFound, {name});
}

TFIBXSQLVAR& TFIBQuery::ParamNamed(const std::string& name) {
  if (!FParamsScanned) ScanCallerParams();
  if (TFIBXSQLVAR* v = FParams->ByName(name)) return *v;
  // Output values of a procedure answer to their names too.
  if (StartsText("EXECUTE ", TrimLeft(FSQL.Text()))) return ColumnNamed(name);
  throw Exception(Format("Parameter \"%s\" does not exist in %s", {name, FullName()}));
}

// ---- Server clock ------------------------------------------------------------------------------

double FIBServerClock(TFIBDatabase& database, TFIBTransaction& transaction,
                      const std::string& sql) {
  TFIBQuery query;
  query.SetDatabase(&database);
  query.SetTransaction(&transaction);
  query.SQL().Add(sql);
  query.ExecQuery();
  const double now = query.ColumnArea().Count() > 0 ? query.ColumnArea()[0].DateTimeValue() : 0;
  query.CloseResult();
  return now;
}
