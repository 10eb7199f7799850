// The statement class of the service module: a TFIBQuery that publishes its
// execution hooks and may retry or abandon a failed execution. Ownership and
// failures as TFIBQuery.
#pragma once

#include <functional>
#include <string>

#include "fb/FIBQuery.h"

class EFIBError;

// What OnExecuteError decides for a failed execution.
enum TpFIBExecuteErrorAction {
  eaFail = 0,   // raise the error again
  eaAbort = 1,  // end silently with EAbort
  eaRetry = 2   // execute again
};

class TpFIBQuery : public TFIBQuery {
 public:
  explicit TpFIBQuery(TComponent* owner = nullptr);
  std::string ClassName() const override { return "TpFIBQuery"; }

  // Runs the execution; an EFIBError goes to OnExecuteError when it is assigned.
  void ExecQuery() override;

  // Called with the statement, the error and an action that starts at eaFail.
  std::function<void(TpFIBQuery&, EFIBError&, int& action)> OnExecuteError;

  const std::string& Description() const { return FDescription; }
  void SetDescription(const std::string& value) { FDescription = value; }
  std::string About() const;

 private:
  std::string FDescription;
};
