#include "runtime/StringList.h"

#include "runtime/Text.h"

int TStringList::Add(std::string line) {
  FLines.push_back(std::move(line));
  return Count() - 1;
}

void TStringList::Insert(int index, std::string line) {
  FLines.insert(FLines.begin() + index, std::move(line));
}

void TStringList::Delete(int index) { FLines.erase(FLines.begin() + index); }

std::string TStringList::Text() const {
  std::string text;
  size_t size = 0;
  for (const auto& line : FLines) size += line.size() + 2;
  text.reserve(size);
  for (const auto& line : FLines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

void TStringList::SetText(const std::string& text) {
  FLines.clear();
  size_t start = 0;
  const size_t n = text.size();
  while (start < n) {
    size_t end = start;
    while (end < n && text[end] != '\r' && text[end] != '\n') ++end;
    FLines.emplace_back(text, start, end - start);
    if (end < n && text[end] == '\r') {
      ++end;
      if (end < n && text[end] == '\n') ++end;
    } else if (end < n) {
      ++end;
    }
    start = end;
  }
}

std::string TStringList::Names(int index) const {
  const std::string& line = FLines.at(index);
  const size_t eq = line.find('=');
  return eq == std::string::npos ? line : line.substr(0, eq);
}

int TStringList::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string& line = FLines[i];
    const size_t eq = line.find('=');
    if (eq != std::string::npos && eq == name.size() &&
        SameText(std::string_view(line).substr(0, eq), name))
      return i;
  }
  return -1;
}

std::string TStringList::Values(const std::string& name) const {
  const int i = IndexOfName(name);
  return i < 0 ? std::string() : FLines[i].substr(name.size() + 1);
}

void TStringList::SetValues(const std::string& name, const std::string& value) {
  const int i = IndexOfName(name);
  if (i < 0)
    Add(name + "=" + value);
  else
    FLines[i] = name + "=" + value;
}
