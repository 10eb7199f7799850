#include "fb/SqlTxtRtns.h"

#include <cctype>

#include "fb/fib.h"
#include "runtime/Text.h"

namespace {

bool IsBlankOrSkip(char c) {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '(' || c == ';';
}

// Characters that may stand before a keyword.
bool IsKeywordLead(char c) {
  return c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"' || c == ')';
}

// Characters that may follow a keyword.
bool IsDelimiter(char c) {
  return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ' || c == '"' || c == '(' ||
         c == '-' || c == '/' || c == ';';
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '%' || c == '.';
}

// The keyword (upper case) at pos, in either case, followed by a delimiter or the
// end. The caller makes sure of what stands before pos.
bool KeywordAt(std::string_view text, size_t pos, std::string_view keyword) {
  if (pos + keyword.size() > text.size()) return false;
  for (size_t k = 0; k < keyword.size(); ++k)
    if (UpperAscii(text[pos + k]) != keyword[k]) return false;
  const size_t after = pos + keyword.size();
  return after == text.size() || IsDelimiter(text[after]);
}

// Skips the blanks, "(", ";" and comments that may precede a statement's words.
size_t SkipLeading(std::string_view text, size_t pos) {
  const size_t n = text.size();
  while (pos < n) {
    const char c = text[pos];
    if (IsBlankOrSkip(c)) {
      ++pos;
    } else if (c == '-' && pos + 1 < n && text[pos + 1] == '-') {
      pos += 2;
      while (pos < n && text[pos] != '\r' && text[pos] != '\n') ++pos;
    } else if (c == '/' && pos + 1 < n && text[pos + 1] == '*') {
      const size_t close = text.find("*/", pos + 2);
      pos = close == std::string_view::npos ? n : close + 2;
    } else {
      break;
    }
  }
  return pos;
}

[[noreturn]] void ParseError(const std::string& ownerName, const char* reason) {
  RaiseClientError(fbceSQLParseError, {ownerName, reason});
}

// Whether a reference ending before pos may have its comparison rewritten: the
// first character after blanks must not be an arithmetic or concatenation sign.
bool FollowedByOperand(std::string_view text, size_t pos) {
  while (pos < text.size() &&
         (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r' || text[pos] == '\n'))
    ++pos;
  if (pos >= text.size()) return false;
  const char c = text[pos];
  const char next = pos + 1 < text.size() ? text[pos + 1] : '\0';
  if (c == '*' || c == '+' || c == '|') return true;
  if (c == '-' && next != '-') return true;
  if (c == '/' && next != '*') return true;
  return false;
}

}  // namespace

TStatementKind StatementKindOf(std::string_view text) {
  const size_t p = SkipLeading(text, 0);
  if (p >= text.size()) return skOther;
  // Whatever was skipped counts as the start of the text. A first word also ends at
  // any character that cannot continue a name, so "select*from T" is a select
  // rather than a word beginning with "S" that would run without preparation.
  auto at = [&](size_t pos, std::string_view kw) {
    if (KeywordAt(text, pos, kw)) return true;
    const size_t after = pos + kw.size();
    return after < text.size() && KeywordAt(text.substr(0, after), pos, kw) &&
           !IsNameChar(text[after]);
  };
  if (at(p, "SELECT") || at(p, "MERGE")) return skSelect;
  if (at(p, "UPDATE")) return skUpdate;
  if (at(p, "DELETE")) return skDelete;
  if (at(p, "INSERT")) return skInsert;
  if (at(p, "EXECUTE")) {
    const size_t q = SkipLeading(text, p + 7);
    if (at(q, "PROCEDURE")) return skProcedure;
    if (at(q, "BLOCK")) return skBlock;
    return skOther;
  }
  for (std::string_view kw :
       {"ALTER", "CREATE", "COMMENT", "DROP", "DECLARE", "GRANT", "RECREATE", "REVOKE"})
    if (at(p, kw)) return skDDL;
  if (at(p, "SET")) {
    size_t q = p + 3;
    while (q < text.size() && (text[q] == ' ' || text[q] == '\t' || text[q] == '\r' ||
                               text[q] == '\n' || text[q] == '"' || text[q] == ')'))
      ++q;
    return at(q, "GENERATOR") ? skDDL : skOther;
  }
  // Savepoint statements and the like run without preparation.
  if (UpperAscii(text[p]) == 'S') return skDDL;
  return skOther;
}

bool HasParamMarker(std::string_view text) {
  enum { kPlain, kQuote, kBlockComment, kLineComment } state = kPlain;
  char quote = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = text[i];
    const char next = i + 1 < n ? text[i + 1] : '\0';
    switch (state) {
      case kPlain:
        if (c == ':' || c == '?' || c == '@') return true;
        if (c == '\'' || c == '"') {
          quote = c;
          state = kQuote;
        } else if (c == '/' && next == '*') {
          state = kBlockComment;
          ++i;
        } else if (c == '-' && next == '-') {
          state = kLineComment;
          ++i;
        }
        break;
      case kQuote:
        if (c == quote) state = kPlain;
        break;
      case kBlockComment:
        if (c == '*' && next == '/') {
          state = kPlain;
          ++i;
        }
        break;
      case kLineComment:
        if (c == '\r' || c == '\n') state = kPlain;
        break;
    }
  }
  return false;
}

TScanResult ScanParams(std::string_view text, TStatementKind kind, TScanMode mode,
                       const std::string& ownerName) {
  TScanResult result;
  const bool server = mode == smServer;
  const size_t n = text.size();
  if (server) result.ServerText.reserve(n);
  auto copy = [&](size_t from, size_t count) {
    if (server) result.ServerText.append(text.substr(from, count));
  };

  const bool trackWhere = kind != skProcedure && kind != skBlock;
  bool markers = kind != skDDL;
  int depth = 0;
  std::vector<int> whereDepths;  // paren depth at which each open WHERE began

  size_t i = 0;
  while (i < n) {
    const char c = text[i];
    const char next = i + 1 < n ? text[i + 1] : '\0';

    if (c == '\'' || c == '"') {
      size_t j = i + 1;
      for (;;) {
        if (j >= n) ParseError(ownerName, "EOF in string detected");
        if (text[j] == c) {
          if (j + 1 < n && text[j + 1] == c) {
            j += 2;  // a doubled quote stays inside
            continue;
          }
          break;
        }
        ++j;
      }
      copy(i, j + 1 - i);
      i = j + 1;
      continue;
    }
    if (c == '-' && next == '-') {
      size_t j = i + 2;
      while (j < n && text[j] != '\r' && text[j] != '\n' && text[j] != '\0') ++j;
      copy(i, j - i);
      i = j;
      continue;
    }
    if (c == '/' && next == '*') {
      const size_t close = text.find("*/", i + 2);
      if (close == std::string_view::npos) ParseError(ownerName, "EOF in comment detected");
      copy(i, close + 2 - i);
      i = close + 2;
      continue;
    }
    if ((c == ':' || c == '?') && markers) {
      TParamRef ref;
      ref.MarkerPos = static_cast<int>(i) + 1;
      size_t last;  // index of the reference's last character
      if (next == '"') {
        size_t j = i + 2;
        for (;;) {
          if (j >= n) ParseError(ownerName, "EOF in string detected");
          if (text[j] == '"') {
            if (j + 1 < n && text[j + 1] == '"') {
              ref.Name += '"';
              j += 2;
              continue;
            }
            break;
          }
          ref.Name += text[j++];
        }
        if (ref.Name.empty()) ParseError(ownerName, "Parameter name expected");
        ref.Quoted = true;
        last = j;
      } else {
        size_t j = i + 1;
        while (j < n && IsNameChar(text[j])) ++j;
        if (j == i + 1) ParseError(ownerName, "Parameter name expected");
        ref.Name.assign(text.substr(i + 1, j - i - 1));
        last = j - 1;
      }
      ref.EndPos = static_cast<int>(last) + 1;
      ref.InWhere = !whereDepths.empty();
      ref.CanRewrite = ref.InWhere && !FollowedByOperand(text, last + 1);
      if (server) {
        result.ServerText += '?';
        result.ServerText.append(last - i, ' ');
      }
      result.Params.push_back(std::move(ref));
      i = last + 1;
      continue;
    }

    if (std::isalpha(static_cast<unsigned char>(c)) && (i == 0 || IsKeywordLead(text[i - 1]))) {
      auto at = [&](std::string_view kw) { return KeywordAt(text, i, kw); };
      // In a block, markers stop at the body: ":x" there names a local variable.
      if (kind == skBlock && markers && at("AS")) markers = false;
      if (trackWhere) {
        if (at("WHERE")) {
          whereDepths.push_back(depth);
        } else if (!whereDepths.empty() && whereDepths.back() == depth &&
                   (at("FOR") || at("GROUP") || at("HAVING") || at("ORDER") || at("PLAN") ||
                    at("START") || at("UNION"))) {
          whereDepths.pop_back();
        }
      }
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
      while (!whereDepths.empty() && whereDepths.back() > depth) whereDepths.pop_back();
    }
    copy(i, 1);
    ++i;
  }
  return result;
}
