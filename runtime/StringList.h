// An ordered list of text lines. Lines of the form name=value are looked up by
// name: first match, ASCII letters compared without regard to case. The text of a
// list is every line followed by CR LF.
#pragma once

#include <string>
#include <vector>

class TStringList {
 public:
  TStringList() = default;
  TStringList(std::initializer_list<std::string> lines) : FLines(lines) {}

  int Count() const { return static_cast<int>(FLines.size()); }
  bool Empty() const { return FLines.empty(); }
  const std::string& operator[](int index) const { return FLines.at(index); }
  std::string& operator[](int index) { return FLines.at(index); }
  const std::vector<std::string>& Lines() const { return FLines; }

  int Add(std::string line);
  void Insert(int index, std::string line);
  void Delete(int index);
  void Clear() { FLines.clear(); }

  // Every line followed by CR LF; empty for an empty list.
  std::string Text() const;
  // Replaces the lines by those of text, split at CR LF, CR or LF; a last line
  // without a line end counts, a final line end adds no empty line.
  void SetText(const std::string& text);

  // The text before the first "=", or the whole line when it holds none.
  std::string Names(int index) const;
  // Index of the first line whose name equals name (case-insensitive); -1 if none.
  // Lines without "=" never match.
  int IndexOfName(const std::string& name) const;
  // The value after "name=" of the first matching line; empty when none matches.
  std::string Values(const std::string& name) const;
  // Replaces the value of the first matching line, or adds "name=value".
  void SetValues(const std::string& name, const std::string& value);

  bool operator==(const TStringList&) const = default;

 private:
  std::vector<std::string> FLines;
};
