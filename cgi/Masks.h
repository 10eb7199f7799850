// Path masks: "*" any run of characters, "?" any one character, "[...]" a set
// ("[!...]" its complement, "a-z" a range); letters match without regard to case.
#pragma once

#include <string>
#include <vector>

#include "runtime/Exception.h"

DORVANA_EXCEPTION(EMaskException, Exception);

// A compiled mask. Raises EMaskException "'%s' is an invalid mask at (%d)" for a
// malformed set or more than 30 "*" runs.
class TMask {
 public:
  explicit TMask(const std::string& mask);
  bool Matches(const std::string& text) const;

 private:
  enum class TKind { Literal, Any, Set, End };
  struct TState {
    TKind Kind;
    bool SkipTo;   // a "*" came before this state
    char Literal;  // upper case
    bool Negate;
    bool Members[256];
  };
  bool StateMatches(const TState& state, const std::string& text, size_t pos) const;

  std::vector<TState> FStates;
};
