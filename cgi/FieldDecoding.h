// The URL-encoded fields of a query string or a body: decoding one field,
// splitting a text into fields, the list that holds them, and the encoding the
// other way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/StringList.h"

// The decoded fields of a query string or a body. The fields are kept back to
// back in the list's text, each followed by CR LF, with the offset where each
// begins: a body of many small fields costs little more than its text (a
// TStringList would spend a string object on each).
class TFieldList {
 public:
  int Count() const { return static_cast<int>(FStarts.size()); }
  // The field at index, without its line end.
  std::string_view operator[](int index) const;
  // Every field followed by CR LF; empty for an empty list.
  const std::string& Text() const { return FText; }
  // Index of the first field whose name (the text before its first "=") equals
  // name, ignoring the case of ASCII letters; -1 when none does. Fields without
  // "=" never match.
  int IndexOfName(std::string_view name) const;
  // The text after "name=" of that field; empty when none matches.
  std::string Values(std::string_view name) const;
  // A copy of the fields.
  std::vector<std::string> Lines() const;

  // Room for fields that take bytes of text in all, line ends included.
  void Reserve(size_t fields, size_t bytes);
  void Add(std::string_view field);
  // Adds the decoded form of a raw field (DecodeField); a field that fails to
  // decode adds nothing.
  void AddDecoded(std::string_view raw);

 private:
  std::string FText;
  std::vector<uint32_t> FStarts;
};

// Splits text into fields at the separators and line breaks, skipping leading
// blanks and line breaks, and adds each field decoded to list. Double quotes
// group text: a field that starts with one ends at its match and loses both.
void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TStringList& list);
// The same into a field list, whose room is reserved first in one pass.
void ExtractHTTPFields(const std::string& separators, const std::string& blanks,
                       std::string_view text, TFieldList& list);
// Decodes one URL-encoded field: "+" is a blank, "%%" a "%", "%XX" a byte.
// Raises EWebBrokerException or EConvertError for a broken "%" sequence.
std::string DecodeField(std::string_view field);
// The same, appended to out; on a failure out may hold part of the field.
void AppendDecodedField(std::string_view field, std::string& out);
// Encodes for a URL: a blank becomes "+", bytes other than letters, digits and
// "*-._@" become "%XX".
std::string HTTPEncode(const std::string& text);
