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

template <class Change>
void TFIBQuery::TSQLLines::Changed(Change change) {
  FQuery.BeforeSQLChange();
  change(FLines);
  FText = FLines.Text();
  ++FChanges;
  FQuery.AfterSQLChange();
}

void TFIBQuery::TSQLLines::Clear() {
  if (!FLines.Empty()) Changed([](TStringList& lines) { lines.Clear(); });
}

void TFIBQuery::TSQLLines::Add(const std::string& line) {
  Changed([&](TStringList& lines) { lines.Add(line); });
}

void TFIBQuery::TSQLLines::SetText(const std::string& text) {
  Changed([&](TStringList& lines) { lines.SetText(text); });
}

// ---- TFIBQuery -------------------------------------------------------------------------

TFIBQuery::TPrepared::TPrepared(TFIBQuery* query)
    : Params(std::make_unique<TFIBXSQLDA>(query, true)),
      ServerParams(std::make_unique<TFIBXSQLDA>(query, true)),
      Columns(std::make_unique<TFIBXSQLDA>(query, false)) {}

TFIBQuery::TFIBQuery(TComponent* owner) : TComponent(owner) {
  FBase.OnNotice = [this](TFIBNotice notice) { OnNotice(notice); };
}

TFIBQuery::~TFIBQuery() {
  try {
    if (FResult.Open) CloseResult();
  } catch (...) {
  }
  try {
    if (Prepared()) DropHandle();
  } catch (...) {
  }
  DropKeptStatements(false);
  FBase.OnNotice = nullptr;
}

void TFIBQuery::SetDatabase(TFIBDatabase* database) {
  if (database == Database()) return;
  // A handle belongs to the attachment it was made on.
  DropKeptStatements(false);
  if (Prepared()) {
    try {
      if (FResult.Open) CloseResult();
      DropHandle();
    } catch (...) {
      ForgetHandles();
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
      if (t && FResult.Open &&
          (t->TransactionState() == tsDoRollback || t->TransactionState() == tsDoCommit))
        CloseResult();
      break;
    }
    case fnDatabaseDisconnecting:
      DropKeptStatements(false);
      if (Prepared()) {
        CloseResult();
        DropHandle();
      }
      break;
    case fnDatabaseDisconnected:
      // Detached, even where closing the result or dropping the handle failed
      // before: the handle died with its attachment and must never be used on
      // the next one.
      ForgetHandles();
      break;
    case fnDatabaseFree:
      FBase.SetTransaction(nullptr);
      ForgetHandles();
      break;
    default:
      break;
  }
}

// ---- SQL changes -------------------------------------------------------------------------

void TFIBQuery::BeforeSQLChange() {
  if (FResult.Open) RaiseClientError(fbceSQLOpen, {"change sql text", FullName()});
  if (OnSQLChanging) OnSQLChanging(*this);
  if (FKeepLimit > 0 && Prepared() && ParamsScanned() && !HasBlobParams())
    KeepStatement();
  else if (Prepared())
    DropHandle();
}

void TFIBQuery::AfterSQLChange() {
  const std::string& text = FSQL.Text();
  if (TakeKeptStatement(text)) return;
  FStatement.Kind = StatementKindOf(text);
  FStatement.ParamCheck = FParamCheck;
  ScanCallerParams();
  DropHandle();
}

void TFIBQuery::ScanCallerParams() {
  TPrepared& st = FStatement;
  const std::string& text = FSQL.Text();
  if (st.ParamCheck && FSQL.Count() > 0 && HasParamMarker(text)) {
    TScanResult scan = ScanParams(text, st.Kind, smCaller, FullName());
    st.Params = BuildParamArea(scan, *st.Params);
    if (st.Params->Count() > 0) {
      st.ServerText.clear();  // built at preparation
    } else {
      st.ServerParams->SetCount(0);
      st.ServerText = text;
    }
  } else {
    st.Params->SetCount(0);
    st.ServerParams->SetCount(0);
    st.ServerText = text;
  }
  st.Text = text;
  st.LinesChange = FSQL.FChanges;
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
  TPrepared& st = FStatement;
  if (FResult.Open) CloseResult();
  FBase.CheckDatabase();
  StartTransactionIfAsked();
  FBase.CheckTransaction();
  // A text whose scan failed is scanned again, so its error repeats here rather
  // than the statement running with the parameters of an older text.
  const bool scanned = ParamsScanned();
  if (st.ParamCheck && (!scanned || st.Params->Count() > 0)) {
    if (!scanned) ScanCallerParams();
    if (st.Params->Count() > 0 && !Prepared()) {
      TScanResult scan = ScanParams(FSQL.Text(), st.Kind, smServer, FullName());
      st.ServerParams = BuildParamArea(scan, *st.ServerParams);
      st.ServerText = std::move(scan.ServerText);
      DropHandle();
    }
  }
  if (Prepared()) return;
  if (Trim(st.ServerText).empty()) RaiseClientError(fbceEmptyQuery, {"Prepare"});
  try {
    DoPrepare();
  } catch (...) {
    try {
      if (Prepared()) DropHandle();  // gives the handle up even where it raises
    } catch (...) {
    }
    throw;
  }
}

void TFIBQuery::DoPrepare() {
  TPrepared& st = FStatement;
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());

  Check(st.Handle.Open(lib,
                       [&](TFBHandleValue* handle) {
                         return lib.isc_dsql_alloc_statement2(status, FBase.DBHandle(), handle);
                       }),
        true);
  st.Columns->SetCount(1);
  Check(lib.isc_dsql_prepare(status, FBase.TRHandle(), st.Handle.Ref(), 0, st.ServerText.c_str(),
                             dialect, st.Columns->AsXSQLDA()),
        true);

  char item = isc_info_sql_stmt_type;
  char info[8] = {};
  Check(lib.isc_dsql_sql_info(status, st.Handle.Ref(), 1, &item, sizeof info, info), true);
  if (info[0] != isc_info_sql_stmt_type) RaiseClientError(fbceUnknownError);
  const int length = static_cast<int>(lib.isc_vax_integer(info + 1, 2));
  if (length < 0 || length > 4) RaiseClientError(fbceUnknownError);
  st.SQLType = static_cast<TFIBSQLTypes>(lib.isc_vax_integer(info + 3, static_cast<short>(length)));

  if (st.SQLType == SQLSelectForUpdate) {
    if (st.CursorName.empty()) {
      static uint32_t counter = 0;
      char name[16];
      std::snprintf(name, sizeof name, "%010u",
                    static_cast<unsigned>(platform::TickCount() + ++counter) % 1000000000u);
      st.CursorName = name;
    }
    Check(lib.isc_dsql_set_cursor_name(status, st.Handle.Ref(), st.CursorName.c_str(), 0), true);
  }

  switch (st.SQLType) {
    case SQLSelect:
    case SQLInsert:
    case SQLUpdate:
    case SQLDelete:
    case SQLExecProcedure:
    case SQLSelectForUpdate: {
      if (st.Params->AsXSQLDA() && st.ServerParams->AsXSQLDA()) {
        if (Check(lib.isc_dsql_describe_bind(status, st.Handle.Ref(), dialect,
                                             st.ServerParams->AsXSQLDA()),
                  false) > 0)
          RaiseServerError(lib, this);
        ReconcileParams();
      }
      st.ServerParams->Setup();
      if (st.SQLType == SQLSelect || st.SQLType == SQLExecProcedure ||
          st.SQLType == SQLSelectForUpdate) {
        const XSQLDA* described = st.Columns->AsXSQLDA();
        if (described->sqld > described->sqln) {
          st.Columns->SetCount(described->sqld);
          Check(lib.isc_dsql_describe(status, st.Handle.Ref(), dialect, st.Columns->AsXSQLDA()),
                true);
        } else if (described->sqld == 0) {
          st.Columns->SetCount(0);
        }
        st.Columns->Setup();
      } else {
        st.Columns->SetCount(0);
      }
      break;
    }
    case SQLGetSegment:
    case SQLPutSegment:
    case SQLStartTransaction:
      DropHandle();
      RaiseClientError(fbceNotPermitted);
    default:
      break;
  }
}

void TFIBQuery::ReconcileParams() {
  TPrepared& st = FStatement;
  const int n = std::min(st.Params->Count(), st.ServerParams->Count());
  for (int i = 0; i < n; ++i) {
    TFIBXSQLVAR& p = *st.Params->FVars[i];
    const XSQLVAR& s = *st.ServerParams->FVars[i]->Data();
    const int described = s.sqltype & ~1;
    XSQLVAR& slot = *p.Data();
    if (p.IsNull()) {
      // An unassigned or NULL parameter takes the declared type and stays NULL.
      p.SetNullAsDescribed(*st.ServerParams->FVars[i]);
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
  for (int i = 0; i < FStatement.Columns->Count(); ++i) {
    TFIBXSQLVAR& v = *FStatement.Columns->FVars[i];
    const bool nullable = v.Data()->sqltype & 1;
    v.SetNullOne();
    if (!nullable) {
      v.Data()->sqltype &= ~1;
      v.FreeIndicator();
    }
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
  const std::string& text = FSQL.Text();
  Check(lib.isc_dsql_execute_immediate(
            StatusVector(), FBase.DBHandle(), FBase.TRHandle(), 0, text.c_str(),
            static_cast<unsigned short>(Database()->SQLDialect()),
            FStatement.Params->Count() > 0 ? FStatement.Params->AsXSQLDA() : nullptr),
        true);
}

void TFIBQuery::ExecQuery() {
  if (FStatement.Kind == skDDL) {
    ExecuteImmediate();
  } else {
    if (BeforeExecute) BeforeExecute(*this);
    StartTransactionIfAsked();
    if (!Transaction()) RaiseClientError(fbceTransactionNotAssigned, {FullName()});
    ResetColumns();
    Transaction()->SQLExecuteHook(this, true);
    if ((FStatement.ParamCheck && (FStatement.Params->Count() > 0 || !ParamsScanned())) ||
        !Prepared())
      Prepare();

    WriteBlobParams();
    IIBClientLibrary& lib = Library();
    ISC_STATUS* status = StatusVector();
    const unsigned short dialect = static_cast<unsigned short>(Database()->SQLDialect());
    XSQLDA* input = FStatement.Params->Count() > 0 ? FStatement.Params->AsXSQLDA() : nullptr;
    switch (FStatement.SQLType) {
      case SQLSelect:
      case SQLSelectForUpdate:
        if (FResult.Open) CloseResult();
        Check(
            lib.isc_dsql_execute(status, FBase.TRHandle(), FStatement.Handle.Ref(), dialect, input),
            true);
        FResult.Open = true;
        FResult.EndReached = false;
        FResult.FetchedRows = 0;
        ResetColumns();
        if (FGoToFirstRecordOnExecute) FetchNext();
        break;
      case SQLExecProcedure: {
        XSQLDA* output = FStatement.Columns->Count() > 0 ? FStatement.Columns->AsXSQLDA() : nullptr;
        if (Check(lib.isc_dsql_execute2(status, FBase.TRHandle(), FStatement.Handle.Ref(), dialect,
                                        input, output),
                  false) != 0)
          RaiseServerError(lib, this);
        FResult.ProcedureExecuted = true;
        break;
      }
      case SQLCommit:
        Transaction()->Commit();
        break;
      case SQLRollback:
        Transaction()->Rollback();
        break;
      default:
        Check(
            lib.isc_dsql_execute(status, FBase.TRHandle(), FStatement.Handle.Ref(), dialect, input),
            true);
        break;
    }
  }

  if (AfterExecute) AfterExecute(*this);
  if (TFIBTransaction* t = Transaction()) t->SQLExecuteHook(this, false);
  for (int i = 0; i < FStatement.Params->Count(); ++i) {
    FStatement.Params->FVars[i]->FModified = false;
    FStatement.Params->FVars[i]->FBlobContent.reset();
  }
  if (FOptions.Contains(qoAutoCommit) && Transaction() && Transaction()->Active()) {
    if (Transaction()->TimeoutAction() == TACommitRetaining)
      Transaction()->CommitRetaining();
    else
      Transaction()->Commit();
  }
  if (!FResult.Open && FOptions.Contains(qoFreeHandleAfterExecute)) DropHandle();
}

// ---- Rows ------------------------------------------------------------------------------------

TFIBXSQLDA* TFIBQuery::FetchNext() {
  if (FResult.EndReached) return nullptr;
  if (!FResult.Open) RaiseClientError(fbceSQLClosed, {"fetch next record", FullName()});
  IIBClientLibrary& lib = Library();
  ISC_STATUS* status = StatusVector();
  const ISC_STATUS result =
      Check(lib.isc_dsql_fetch(status, FStatement.Handle.Ref(),
                               static_cast<unsigned short>(Database()->SQLDialect()),
                               FStatement.Columns->AsXSQLDA()),
            false);
  if (result == 0) {
    ++FResult.FetchedRows;
    return FStatement.Columns.get();
  }
  if (result == kFetchEnd || StatusHolds(status, isc_dsql_cursor_err)) {
    FResult.EndReached = true;
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
  if (Prepared() && FResult.Open &&
      (FStatement.SQLType == SQLSelect || FStatement.SQLType == SQLSelectForUpdate) && Database() &&
      Database()->ClientLibrary()) {
    IIBClientLibrary& lib = *Database()->ClientLibrary();
    ISC_STATUS* status = StatusVector();
    if (Check(lib.isc_dsql_free_statement(status, FStatement.Handle.Ref(), DSQL_close), false) >
            0 &&
        !StatusHolds(status, isc_bad_stmt_handle) &&
        !StatusHolds(status, isc_dsql_cursor_close_err))
      error.emplace(ServerError(lib, this));
  }
  FResult.Open = false;
  FResult.EndReached = false;
  FResult.ProcedureExecuted = false;
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
  FStatement.Columns->SetCount(0);
  // Without a handle no result can be open.
  FResult.Open = false;
  if (!Prepared()) return;
  FResult.EndReached = true;
  if (ReleaseHandle(FStatement.Handle) > 0 && !StatusHolds(StatusVector(), isc_bad_stmt_handle))
    throw ServerError(*Database()->ClientLibrary(), this);
}

TFBStatus TFIBQuery::ReleaseHandle(TFBStatementHandle& handle) {
  if (!Database() || !Database()->ClientLibrary()) {
    handle.Forget();  // no library left to drop it with: the attachment is gone
    return 0;
  }
  return Check(handle.Release(StatusVector()), false);
}

void TFIBQuery::ForgetHandles() {
  DropKeptStatements(true);
  FStatement.Handle.Forget();
  FResult.Open = false;
}

// ---- Lookup ------------------------------------------------------------------------------------

TFIBXSQLVAR& TFIBQuery::ColumnNamed(const std::string& name) {
  if (TFIBXSQLVAR* v = FStatement.Columns->ByName(name)) return *v;
  RaiseClientError(fbceFieldNotFound, {name});
}

TFIBXSQLVAR& TFIBQuery::ParamNamed(const std::string& name) {
  if (!ParamsScanned()) ScanCallerParams();
  if (TFIBXSQLVAR* v = FStatement.Params->ByName(name)) return *v;
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
