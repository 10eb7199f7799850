// Statements kept prepared across changes of text: a statement set aside when its
// text changes, taken up again when the text comes back, and the statement taken
// up as it stands when its lines are set to the very lines it holds. Either way it
// runs again without a new preparation and with every parameter unset, as a newly
// prepared one.
#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "fb/FIBInternal.h"
#include "fb/FIBQuery.h"

void TFIBQuery::TSQLLines::Assign(const std::vector<std::string>& lines) {
  bool same =
      FQuery.Prepared() && !FQuery.Open() && FLines.Count() == static_cast<int>(lines.size());
  for (size_t i = 0; same && i < lines.size(); ++i) same = FLines[static_cast<int>(i)] == lines[i];
  if (same) return FQuery.ResetParams();
  Clear();
  for (const std::string& line : lines) Add(line);
}

void TFIBQuery::SetKeptStatements(int count) {
  FKeepLimit = std::max(count, 0);
  while (static_cast<int>(FKept.size()) > FKeepLimit) DropOldestKept();
}

void TFIBQuery::KeepStatement() {
  FKept.push_back(std::exchange(FStatement, TPrepared(this)));
  FResult.EndReached = false;
  if (static_cast<int>(FKept.size()) > FKeepLimit) DropOldestKept();
}

bool TFIBQuery::TakeKeptStatement(const std::string& text) {
  if (FKept.empty() || Prepared()) return false;
  for (auto it = FKept.begin(); it != FKept.end(); ++it) {
    if (it->Text != text || it->ParamCheck != FParamCheck) continue;
    FStatement = std::move(*it);
    FStatement.LinesChange = FSQL.FChanges;
    FKept.erase(it);
    ResetParams();
    FResult.EndReached = false;
    return true;
  }
  return false;
}

void TFIBQuery::ResetParams() {
  TFIBXSQLDA& params = *FStatement.Params;
  const TFIBXSQLDA& described = *FStatement.ServerParams;
  for (int i = 0; i < params.Count(); ++i) {
    const TFIBXSQLVAR* server = i < described.Count() ? described.FVars[i].get() : nullptr;
    params.FVars[i]->Unset(server && server->FDescType != 0 ? server : nullptr);
  }
}

void TFIBQuery::DropOldestKept() {
  // A failure to drop is no failure of the statement now in use.
  ReleaseHandle(FKept.front().Handle);
  FKept.erase(FKept.begin());
}

void TFIBQuery::DropKeptStatements(bool forget) {
  for (TPrepared& kept : FKept) {
    if (forget)
      kept.Handle.Forget();
    else
      ReleaseHandle(kept.Handle);
  }
  FKept.clear();
}
