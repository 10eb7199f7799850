#include "cgi/FieldDecoding.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

}  // namespace

void AppendDecodedField(std::string_view field, std::string& result) {
  const size_t n = field.size();
  // Bytes past the end of the field read as NUL.
  auto at = [&](size_t i) { return i < n ? field[i] : '\0'; };
  for (size_t i = 0; i < n; ++i) {
    char c = field[i];
    if (c == '+') {
      result += ' ';
    } else if (c == '%') {
      if (at(i + 1) == '%') {
        result += '%';
        ++i;
        continue;
      }
      char a = at(i + 1), b = at(i + 2);
      if (a == '\0' || b == '\0')
        throw EWebBrokerException(
            Format("Error decoding URL style (%%XX) encoded string at position %d", {i + 1}));
      if (!IsHexDigit(a) || !IsHexDigit(b))
        throw EConvertError(Format("Invalid URL encoded character (%s) at position %d",
                                   {field.substr(i, 3), i + 1}));
      result += static_cast<char>(HexValue(a) * 16 + HexValue(b));
      i += 2;
    } else {
      result += c;
    }
  }
}

std::string DecodeField(std::string_view field) {
  std::string result;
  result.reserve(field.size());
  AppendDecodedField(field, result);
  return result;
}

namespace {

// Splits text into raw fields and hands each to add, in order.
template <class F>
void SplitFields(const std::string& separators, const std::string& blanks, std::string_view text,
                 F add) {
  // Processing stops at the first NUL; past the end every byte reads as NUL.
  text = text.substr(0, text.find('\0'));
  if (text.empty()) return;
  const size_t n = text.size();
  auto at = [&](size_t i) { return i < n ? text[i] : '\0'; };
  const std::string allBlanks = blanks + "\r\n";
  const std::string allSeparators = separators + "\r\n\"";
  auto isBlank = [&](char c) { return c != '\0' && allBlanks.find(c) != std::string::npos; };
  auto isSeparator = [&](char c) {
    return c == '\0' || allSeparators.find(c) != std::string::npos;
  };

  size_t tail = 0;
  char quote = '\0';
  for (;;) {
    while (isBlank(at(tail))) ++tail;
    size_t head = tail;
    bool inQuote = false;
    bool leadQuote = false;
    for (;;) {
      char c = at(tail);
      if (c == '"') {
        if (quote != '\0' && quote == c) {
          quote = '\0';
        } else {
          leadQuote = head == tail;
          quote = c;
          if (leadQuote) ++head;
        }
        inQuote = quote != '\0';
        if (inQuote) {
          ++tail;
          continue;
        }
        break;
      }
      if (c == '\0') break;
      if (inQuote || !isSeparator(c)) {
        ++tail;
        continue;
      }
      break;
    }
    // The closing quote of a run that began inside the field belongs to it.
    if (!leadQuote && at(tail) == '"') ++tail;
    const bool atEnd = at(tail) == '\0';
    if (at(head) != '\0') add(text.substr(head, std::min(tail, n) - head));
    ++tail;
    if (atEnd) break;
  }
}

}  // namespace

void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TStringList& list) {
  SplitFields(separators, blanks, text, [&](std::string_view raw) { list.Add(DecodeField(raw)); });
}

void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TFieldList& list) {
  // A decoded field is never longer than its raw form: the first pass sizes the
  // list, so its text and offsets are allocated once, to the byte.
  size_t fields = 0, bytes = 0;
  SplitFields(separators, blanks, text, [&](std::string_view raw) {
    ++fields;
    bytes += raw.size() + 2;
  });
  list.Reserve(fields, bytes);
  SplitFields(separators, blanks, text, [&](std::string_view raw) { list.AddDecoded(raw); });
}

std::string_view TFieldList::operator[](int index) const {
  const size_t i = static_cast<size_t>(index);
  if (index < 0 || i >= FStarts.size()) throw std::out_of_range("TFieldList index");
  const size_t end = i + 1 < FStarts.size() ? FStarts[i + 1] : FText.size();
  return std::string_view(FText).substr(FStarts[i], end - 2 - FStarts[i]);
}

int TFieldList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string_view field = (*this)[i];
    const size_t eq = field.find('=');
    if (eq != std::string_view::npos && eq == name.size() && SameText(field.substr(0, eq), name))
      return i;
  }
  return -1;
}

std::string TFieldList::Values(std::string_view name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : std::string((*this)[i].substr(name.size() + 1));
}

std::vector<std::string> TFieldList::Lines() const {
  std::vector<std::string> lines;
  lines.reserve(FStarts.size());
  for (int i = 0; i < Count(); ++i) lines.emplace_back((*this)[i]);
  return lines;
}

void TFieldList::Reserve(size_t fields, size_t bytes) {
  FStarts.reserve(FStarts.size() + fields);
  FText.reserve(FText.size() + bytes);
}

void TFieldList::Add(std::string_view field) {
  if (FText.size() + field.size() + 2 > UINT32_MAX) throw EOutOfMemory("Out of memory");
  FStarts.push_back(static_cast<uint32_t>(FText.size()));
  FText += field;
  FText += "\r\n";
}

void TFieldList::AddDecoded(std::string_view raw) {
  if (FText.size() + raw.size() + 2 > UINT32_MAX) throw EOutOfMemory("Out of memory");
  const size_t start = FText.size();
  try {
    AppendDecodedField(raw, FText);
  } catch (...) {
    FText.resize(start);
    throw;
  }
  FStarts.push_back(static_cast<uint32_t>(start));
  FText += "\r\n";
}

std::string HTTPEncode(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string result;
  for (unsigned char c : text) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        std::strchr("*-._@", c) != nullptr) {
      result += static_cast<char>(c);
    } else if (c == ' ') {
      result += '+';
    } else {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 15];
    }
  }
  return result;
}
