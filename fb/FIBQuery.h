// Statements: one SQL text carried from its lines to the server and back, with its
// parameters and the columns of the current row as value objects.
//
// TFIBQuery holds the SQL as lines, finds the ":name" parameters in them, prepares
// the text on the server, executes it in its transaction and walks the rows of a
// select. It owns its three descriptor areas (TFIBXSQLDA: the parameters as the
// caller sees them, the parameters as the server described them, and the columns);
// each area owns its XSQLDA block and its value objects (TFIBXSQLVAR), which own
// their data and indicator buffers. The statement never owns its connection or
// transaction; its TFIBBase link is told when they open, end or go away.
//
// Failures are EFIBClientError (numbered client messages), EFIBInterBaseError
// (what the server reports, this statement as raiser), and a plain Exception for a
// parameter name that is not in the text. Destructors never raise.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fb/FIBDatabase.h"
#include "fb/FIBHandles.h"
#include "fb/FIBValueText.h"
#include "fb/SqlTxtRtns.h"
#include "runtime/Component.h"
#include "runtime/StringList.h"

class TFIBQuery;
class TFIBXSQLDA;
// The client library's descriptor of one value (its XSQLVAR), seen as such only
// inside the database layer (FIBInternal.h); a pointer's type elsewhere.
struct TFIBSlot;

// Statement types as the server reports them at preparation.
enum TFIBSQLTypes {
  SQLUnknown = 0,
  SQLSelect = 1,
  SQLInsert = 2,
  SQLUpdate = 3,
  SQLDelete = 4,
  SQLDDL = 5,
  SQLGetSegment = 6,
  SQLPutSegment = 7,
  SQLExecProcedure = 8,
  SQLStartTransaction = 9,
  SQLCommit = 10,
  SQLRollback = 11,
  SQLSelectForUpdate = 12,
  SQLSetGenerator = 13,
  SQLSavePointOperation = 14
};

enum TpFIBQueryOption {
  qoStartTransaction,       // start an inactive transaction before preparing/executing
  qoAutoCommit,             // commit after each successful execution
  qoTrimCharFields,         // text values lose trailing blanks and control bytes
  qoNoForceIsNull,          // never rewrite comparisons with NULL parameters
  qoFreeHandleAfterExecute  // drop the server handle when a result is done with
};

// A set of TpFIBQueryOption.
class TpFIBQueryOptions {
 public:
  TpFIBQueryOptions() = default;
  TpFIBQueryOptions(std::initializer_list<TpFIBQueryOption> options) {
    for (auto o : options) FBits |= Bit(o);
  }
  bool Contains(TpFIBQueryOption o) const { return FBits & Bit(o); }
  bool Empty() const { return FBits == 0; }
  bool operator==(const TpFIBQueryOptions&) const = default;

 private:
  static unsigned Bit(TpFIBQueryOption o) { return 1u << static_cast<unsigned>(o); }
  unsigned FBits = 0;
};

// One parameter or column value, bound to one XSQLVAR slot of its area. Reading in
// a form that the type has no conversion for raises EFIBClientError 33 "Invalid
// data conversion."; a failed reading changes nothing.
class TFIBXSQLVAR {
 public:
  TFIBXSQLVAR(TFIBXSQLDA* area, int index);
  TFIBXSQLVAR(const TFIBXSQLVAR&) = delete;
  TFIBXSQLVAR& operator=(const TFIBXSQLVAR&) = delete;

  int Index() const { return FIndex; }
  const std::string& Name() const { return FName; }
  // The slot this value reads and writes, as the client library's XSQLVAR
  // (defined in FIBInternal.h, for the database layer and its tests).
  auto* Data() const;
  // The slot's type code without the bit that allows NULL (FIBInternal.h).
  int SQLType() const;
  bool Modified() const { return FModified; }
  // The type the server described (0 while unknown) and its length, scale, subtype.
  int DescribedType() const;
  int DescribedScale() const;

  bool IsNull() const;
  void SetIsNull(bool value);
  std::string AsText() const;
  // Stores text; the parameter's described type decides NULL for the empty text
  // and the rewriting of a decimal comma.
  void SetAsText(const std::string& value);
  int32_t AsInt32() const;
  void SetAsInt32(int32_t value);
  double AsReal() const;
  double NumberValue() const;
  // Days since 1899-12-30, the time as the fraction of a day.
  double DateTimeValue() const;

 private:
  friend class TFIBXSQLDA;
  friend class TFIBQuery;

  bool IsColumn() const;
  TFIBQuery* Query() const;
  // Refreshes a parameter's described fields from the server's description.
  void LookupDescription() const;
  // Stores into this slot and every parameter of the same name.
  void Store(int type, int length, const void* bytes);
  void StoreOne(int type, int length, const void* bytes);
  void SetNullOne();
  void AllocateIndicator();
  void FreeIndicator();
  // Points the slot at this object's buffers again.
  void Attach(TFIBSlot* slot);
  void ResizeData(size_t size);
  // Copies type, value and NULL state from another slot's value.
  void CopyValueFrom(const TFIBXSQLVAR& other);
  // Takes the described fields from the slot and sizes a zeroed buffer for them.
  void SetupFromSlot();
  // NULL, with the type, scale, subtype and length described for the server's
  // entry and a zeroed buffer of that length.
  void SetNullAsDescribed(const TFIBXSQLVAR& described);
  // Unset as after a new preparation: NULL as described, or, without a
  // description, NULL with no type.
  void Unset(const TFIBXSQLVAR* described);
  std::string TextOfChars() const;
  std::string BlobText() const;
  bool TrimChars() const;
  // The regional forms of the statement's connection; without one, the area's.
  const TFIBFormatSettings& FormatSettings() const;

  TFIBXSQLDA* FArea;
  int FIndex;
  std::string FName;
  TFIBSlot* FSlot = nullptr;
  std::vector<char> FData;
  short FIndicator = 0;
  bool FModified = false;
  mutable int FDescType = 0;
  mutable int FDescSubtype = 0;
  mutable short FDescLength = 0;
  mutable short FDescScale = 0;
  std::optional<std::string> FBlobContent;
};

// A list of parameters or columns: one XSQLDA block with a value object per slot.
// Grows, never shrinks; value objects and buffers beyond the count are kept for
// reuse. Owned by its statement.
class TFIBXSQLDA {
 public:
  // An area without a statement (a test's hand-filled slots) reads and writes
  // text in the forms of format, the host's when null.
  TFIBXSQLDA(TFIBQuery* query, bool isParams, const TFIBFormatSettings* format = nullptr);
  TFIBXSQLDA(const TFIBXSQLDA&) = delete;
  TFIBXSQLDA& operator=(const TFIBXSQLDA&) = delete;

  bool IsParams() const { return FIsParams; }
  TFIBQuery* Query() const { return FQuery; }
  int Count() const { return FCount; }
  // Empties the names; grows the block when needed; sets sqln and sqld to n.
  void SetCount(int n);
  // The block handed to the client library, as its XSQLDA (defined in
  // FIBInternal.h); null until the first entry exists.
  auto* AsXSQLDA() const;
  // Raises client message 23 for an index outside 0 .. Count - 1.
  TFIBXSQLVAR& operator[](int index) const;
  // The entry of a name (letter case ignored); null when there is none.
  TFIBXSQLVAR* ByName(const std::string& name) const;
  // Takes each slot's described type into its value object, sizes the buffers and,
  // when the area has no names yet, names the entries after the slots' aliases
  // ("F_1"... for empty ones, "ID1"... for repeated ones). Client message 30 for a
  // type code that is not known.
  void Setup();

 private:
  friend class TFIBXSQLVAR;
  friend class TFIBQuery;
  void AddName(const std::string& name, int index);
  TFIBXSQLVAR* FindOwnName(const std::string& key) const;
  // Indices of the entries that share name with more than one entry; null when the
  // name occurs once.
  const std::vector<int>* EqualNames(const std::string& name) const;

  TFIBQuery* FQuery;
  bool FIsParams;
  const TFIBFormatSettings* FFormat;
  int FCount = 0;
  int FSize = 0;
  // The XSQLDA with FSize slots laid over zeroed bytes; operator new[] aligns
  // them for it.
  std::unique_ptr<std::byte[]> FBlock;
  std::vector<std::unique_ptr<TFIBXSQLVAR>> FVars;
  std::map<std::string, std::vector<int>> FNames;  // upper-case name -> indices
  // Names as callers asked for them, with what they found: a loop that reads the
  // same columns row after row compares a few bytes instead of searching.
  mutable std::vector<std::pair<std::string, TFIBXSQLVAR*>> FCachedNames;
};

// A statement bound to a connection and a transaction; see the file comment.
class TFIBQuery : public TComponent {
 public:
  // The statement text as lines. Every change is checked (refused while a result
  // is open) and rescanned for parameters.
  class TSQLLines {
   public:
    int Count() const { return FLines.Count(); }
    const std::string& operator[](int index) const { return FLines[index]; }
    // Every line followed by CR LF.
    const std::string& Text() const { return FText; }
    void Clear();
    void Add(const std::string& line);
    // Replaces all lines by those of text.
    void SetText(const std::string& text);
    // Sets the lines to these, cleared and added one by one. A statement that
    // holds these very lines, prepared and with no result open, is taken up again
    // as it stands instead: no new preparation, every parameter unset (NULL), as
    // a statement taken from the kept ones.
    void Assign(const std::vector<std::string>& lines);

   private:
    friend class TFIBQuery;
    explicit TSQLLines(TFIBQuery& query) : FQuery(query) {}
    template <class Change>
    void Changed(Change change);
    TFIBQuery& FQuery;
    TStringList FLines;
    std::string FText;      // the joined lines, made once per change
    uint64_t FChanges = 0;  // changes so far
  };

  explicit TFIBQuery(TComponent* owner = nullptr);
  ~TFIBQuery() override;
  std::string ClassName() const override { return "TFIBQuery"; }

  TFIBDatabase* Database() const { return FBase.Database(); }
  virtual void SetDatabase(TFIBDatabase* database);
  TFIBTransaction* Transaction() const { return FBase.Transaction(); }
  void SetTransaction(TFIBTransaction* transaction);

  TSQLLines& SQL() { return FSQL; }
  const TSQLLines& SQL() const { return FSQL; }
  bool ParamCheck() const { return FParamCheck; }
  void SetParamCheck(bool value) { FParamCheck = value; }
  bool GoToFirstRecordOnExecute() const { return FGoToFirstRecordOnExecute; }
  void SetGoToFirstRecordOnExecute(bool value) { FGoToFirstRecordOnExecute = value; }
  const TpFIBQueryOptions& Options() const { return FOptions; }
  void SetOptions(const TpFIBQueryOptions& value) { FOptions = value; }

  std::function<void(TFIBQuery&)> OnSQLChanging;
  std::function<void(TFIBQuery&)> BeforeExecute;
  std::function<void(TFIBQuery&)> AfterExecute;

  // The parameter of that name (letter case ignored). For "execute procedure" texts
  // an output column of the name answers too. Raises Exception "Parameter \"%s\"
  // does not exist in %s" (or client message 41 for a procedure) when neither exists.
  TFIBXSQLVAR& ParamNamed(const std::string& name);
  // Prepares when needed, then executes; a select opens its result and, with
  // GoToFirstRecordOnExecute, fetches the first row.
  virtual void ExecQuery();
  // No current row: the end is reached or no result is open.
  bool AtEnd() const { return FResult.EndReached || !FResult.Open; }
  // The column of the current row with that name; client message 41 when none.
  TFIBXSQLVAR& ColumnNamed(const std::string& name);
  // Fetches the next row; returns the columns, or null at the end.
  TFIBXSQLDA* FetchNext();
  void CloseResult();
  void Prepare();
  void DropHandle();

  // How many prepared statements of earlier texts are kept, the oldest going
  // first (0, the default: none); a statement changing among n texts needs n. A
  // statement kept is taken up again when its text comes back, on its handle,
  // with every parameter unset (NULL) as after a new preparation; the kept
  // handles go when the connection closes.
  int KeptStatements() const { return FKeepLimit; }
  void SetKeptStatements(int count);

  // A handle is held only for a prepared text.
  bool Prepared() const { return static_cast<bool>(FStatement.Handle); }
  bool Open() const { return FResult.Open; }
  TFIBSQLTypes SQLType() const { return FStatement.SQLType; }
  TStatementKind StatementKind() const { return FStatement.Kind; }
  // Rows fetched since the last execution.
  int FetchedRows() const { return FResult.FetchedRows; }
  bool ProcedureExecuted() const { return FResult.ProcedureExecuted; }
  const std::string& ServerText() const { return FStatement.ServerText; }
  TFBHandleValue Handle() const { return FStatement.Handle.Value(); }

  TFIBXSQLDA& ParamArea() { return *FStatement.Params; }
  TFIBXSQLDA& ServerParamArea() { return *FStatement.ServerParams; }
  TFIBXSQLDA& ColumnArea() { return *FStatement.Columns; }

 protected:
  // Runs after every client call: lets the transaction look at the status, then
  // raises the server error (this statement as raiser) when raise is set and the
  // status is positive. Returns the status.
  TFBStatus Check(TFBStatus status, bool raise);
  IIBClientLibrary& Library() const;

 private:
  friend class TFIBXSQLVAR;
  friend class TFIBXSQLDA;

  // One statement text as scanned and, while its handle is held, prepared: what
  // the statement works with and what its kept list holds, moved whole between
  // them, never copied.
  struct TPrepared {
    explicit TPrepared(TFIBQuery* query);
    // The joined lines the parameter areas were scanned for, and the change of
    // the lines that brought them (a scan that failed brings none).
    std::string Text;
    uint64_t LinesChange = 0;
    TStatementKind Kind = skOther;
    bool ParamCheck = true;  // ParamCheck as it was when the text was set
    std::string ServerText;
    TFBStatementHandle Handle;
    TFIBSQLTypes SQLType = SQLUnknown;
    std::string CursorName;
    std::unique_ptr<TFIBXSQLDA> Params;
    std::unique_ptr<TFIBXSQLDA> ServerParams;
    std::unique_ptr<TFIBXSQLDA> Columns;
  };
  // What the last execution left.
  struct TResult {
    bool Open = false;        // a select's result is open
    bool EndReached = false;  // no further row (also once the handle is dropped)
    int FetchedRows = 0;      // since the last execution
    bool ProcedureExecuted = false;
  };

  void BeforeSQLChange();
  void AfterSQLChange();
  void OnNotice(TFIBNotice notice);
  // The parameter area matches the current lines.
  bool ParamsScanned() const { return FStatement.LinesChange == FSQL.FChanges; }
  // Builds a new parameter area from a scan; values of names still present move
  // over from the old one.
  std::unique_ptr<TFIBXSQLDA> BuildParamArea(const TScanResult& scan, const TFIBXSQLDA& old);
  void ScanCallerParams();
  void DoPrepare();
  void ReconcileParams();
  // Every parameter unset, typed as the server described it.
  void ResetParams();
  void ResetColumns();
  void WriteBlobParams();
  bool HasBlobParams() const;
  void StartTransactionIfAsked();
  void ExecuteImmediate();
  // The one way this statement gives a handle up: dropped on the server with the
  // thread's status vector while the connection has its library, forgotten
  // otherwise. Returns the drop's status.
  TFBStatus ReleaseHandle(TFBStatementHandle& handle);
  // The attachment is gone and every handle of this statement with it: given up
  // without a call.
  void ForgetHandles();

  void KeepStatement();
  bool TakeKeptStatement(const std::string& text);
  // Drops the kept handles on the server; with forget, the attachment is gone
  // and they are given up without a call.
  void DropKeptStatements(bool forget);
  void DropOldestKept();

  TFIBBase FBase{this};
  TSQLLines FSQL{*this};
  int FKeepLimit = 0;
  std::vector<TPrepared> FKept;
  bool FParamCheck = true;
  bool FGoToFirstRecordOnExecute = true;
  TpFIBQueryOptions FOptions;

  TPrepared FStatement{this};
  TResult FResult;
};
