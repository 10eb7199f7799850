#include "cgi/Masks.h"

#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

constexpr int kMaxSkipStates = 30;

}  // namespace

TMask::TMask(const std::string& mask) {
  // Position is 1-based; the end of the mask counts as one character past it.
  auto invalid = [&](size_t index) {
    return EMaskException(Format("'%s' is an invalid mask at (%d)", {mask, index + 1}));
  };
  bool skip = false;
  int skipCount = 0;
  auto push = [&](TState state, size_t index) {
    state.SkipTo = skip;
    if (skip && ++skipCount > kMaxSkipStates) throw invalid(index);
    skip = false;
    FStates.push_back(state);
  };
  size_t i = 0;
  const size_t n = mask.size();
  while (i < n) {
    TState state{};
    char c = mask[i];
    if (c == '*') {
      skip = true;
      ++i;
      continue;
    }
    if (c == '?') {
      // "*?" acts as "*".
      if (!skip) {
        state.Kind = TKind::Any;
        push(state, i);
      }
      ++i;
      continue;
    }
    if (c == '[') {
      state.Kind = TKind::Set;
      size_t start = i;
      ++i;
      if (i < n && mask[i] == '!') {
        state.Negate = true;
        ++i;
      }
      bool any = false;
      for (;;) {
        if (i >= n) throw invalid(i);
        char m = mask[i];
        if (m == ']') {
          if (!any) throw invalid(i);
          ++i;
          break;
        }
        if (m == '-') throw invalid(i);
        char last = m;
        if (i + 1 < n && mask[i + 1] == '-') {
          if (i + 2 >= n) throw invalid(i + 2);
          last = mask[i + 2];
          if (last == ']') throw invalid(i + 2);
          i += 3;
        } else {
          ++i;
        }
        unsigned char lo = static_cast<unsigned char>(UpperAscii(m));
        unsigned char hi = static_cast<unsigned char>(UpperAscii(last));
        for (unsigned v = lo; v <= hi; ++v) state.Members[v] = true;
        any = true;
      }
      push(state, start);
      continue;
    }
    state.Kind = TKind::Literal;
    state.Literal = UpperAscii(c);
    push(state, i);
    ++i;
  }
  TState end{};
  end.Kind = TKind::End;
  push(end, n);
}

bool TMask::StateMatches(const TState& state, const std::string& text, size_t pos) const {
  if (state.Kind == TKind::End) return pos == text.size();
  if (pos >= text.size()) return false;
  char c = UpperAscii(text[pos]);
  switch (state.Kind) {
    case TKind::Literal:
      return c == state.Literal;
    case TKind::Any:
      return true;
    case TKind::Set:
      return state.Members[static_cast<unsigned char>(c)] != state.Negate;
    case TKind::End:
      break;
  }
  return false;
}

bool TMask::Matches(const std::string& text) const {
  // A skip-to state takes the first position where it matches and remembers the
  // one after it; a later mismatch resumes from the last remembered position.
  struct TFrame {
    size_t State, Resume;
  };
  std::vector<TFrame> stack;
  size_t s = 0, t = 0;
  size_t searchFrom = 0;
  bool resuming = false;
  for (;;) {
    if (s == FStates.size()) return true;
    const TState& state = FStates[s];
    bool ok;
    if (state.SkipTo) {
      size_t p = resuming ? searchFrom : t;
      resuming = false;
      while (p <= text.size() && !StateMatches(state, text, p)) ++p;
      ok = p <= text.size();
      if (ok) {
        stack.push_back({s, p + 1});
        t = p;
      }
    } else {
      ok = StateMatches(state, text, t);
    }
    if (ok) {
      if (state.Kind != TKind::End) ++t;
      ++s;
      continue;
    }
    if (stack.empty()) return false;
    TFrame top = stack.back();
    stack.pop_back();
    s = top.State;
    searchFrom = top.Resume;
    resuming = true;
  }
}
