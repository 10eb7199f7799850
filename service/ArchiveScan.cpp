#include "service/ArchiveScan.h"

#include <algorithm>
#include <exception>
#include <unordered_map>

#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"
#include "service/OrderErrorLine.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

std::string ChildText(const TXmlNode& parent, const char* name) {
  const TXmlNode* node = parent.FindChild(name);
  return node ? node->TextValue() : std::string();
}

}  // namespace

TOrderFacts ReadOrderFacts(std::string_view text) {
  TOrderFacts facts;
  TNativeXml document;
  try {
    document.LoadFromText(text);
  } catch (const std::exception&) {
    facts.Error = ExceptionMessage(std::current_exception());
    return facts;
  }
  const TXmlNode* root = document.FirstElement();
  const TXmlNode* guid = root ? root->FindChild("GUID") : nullptr;
  if (!guid) {
    facts.Error = kNoGuidMessage;
    return facts;
  }
  facts.Guid = guid->TextValue();
  if (TrimView(facts.Guid).empty()) facts.Error = kEmptyGuidMessage;
  facts.DeviceId = ChildText(*root, "DEVICEID");
  facts.Pin = ChildText(*root, "PIN");
  facts.Table = ChildText(*root, "TABLE");
  if (const TXmlNode* foods = root->FindChild("FOODS")) facts.Rows = foods->ChildCount();
  return facts;
}

std::vector<TArchivedCopy> ScanArchive(int64_t since,
                                       const std::function<void(size_t, size_t)>& progress) {
  const std::string delimiter = platform::PathDelimiter();
  std::vector<TArchivedCopy> copies;
  std::vector<std::string> subfolders{""};
  for (std::string& name : platform::ListDirs(kArchiveFolder))
    if (IsDateFolderName(name)) subfolders.push_back(std::move(name));
  for (const std::string& sub : subfolders) {
    const std::string dir = sub.empty() ? kArchiveFolder : kArchiveFolder + delimiter + sub;
    for (std::string& name : platform::ListFiles(dir, "*.xml")) {
      TArchivedCopy copy;
      copy.Path = dir + delimiter + name;
      copy.Name = std::move(name);
      copy.Subfolder = sub;
      if (!platform::FileModifiedTime(copy.Path, copy.Time) || copy.Time < since) continue;
      copies.push_back(std::move(copy));
    }
  }
  std::sort(copies.begin(), copies.end(),
            [](const TArchivedCopy& a, const TArchivedCopy& b) { return a.Path < b.Path; });
  for (size_t i = 0; i < copies.size(); ++i) {
    TArchivedCopy& copy = copies[i];
    try {
      copy.Facts = ReadOrderFacts(platform::ReadWholeFile(copy.Path));
    } catch (const EOSError& e) {
      copy.Facts = TOrderFacts();
      copy.Facts.Error = e.Message();
    }
    if (progress && (i + 1) % kProgressStep == 0) progress(i + 1, copies.size());
  }
  return copies;
}

std::string DateFolderName(int64_t unixSeconds) { return FormatUtcTime(unixSeconds).substr(0, 10); }

std::optional<int64_t> ParseDate(std::string_view text) {
  if (!IsDateFolderName(text)) return std::nullopt;
  const auto number = [&](size_t pos, size_t len) {
    int value = 0;
    for (size_t i = pos; i < pos + len; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  return DaysFromCivil(number(0, 4), static_cast<unsigned>(number(5, 2)),
                       static_cast<unsigned>(number(8, 2))) *
         kSecondsPerDay;
}

bool IsDateFolderName(std::string_view name) {
  if (name.size() != 10 || name[4] != '-' || name[7] != '-') return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (i != 4 && i != 7 && (name[i] < '0' || name[i] > '9')) return false;
  const int month = (name[5] - '0') * 10 + (name[6] - '0');
  const int day = (name[8] - '0') * 10 + (name[9] - '0');
  if (month < 1 || month > 12 || day < 1) return false;
  // The day must survive the round trip through the day count.
  const int year =
      ((name[0] - '0') * 10 + (name[1] - '0')) * 100 + (name[2] - '0') * 10 + (name[3] - '0');
  const TCivilDate back =
      CivilFromDays(DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)));
  return back.Day == static_cast<unsigned>(day) && back.Month == static_cast<unsigned>(month);
}

std::vector<int> NewestCopies(const std::vector<TArchivedCopy>& copies,
                              const std::vector<std::string>& guids) {
  std::unordered_map<std::string, int> newest;
  for (int i = 0; i < static_cast<int>(copies.size()); ++i) {
    const TArchivedCopy& copy = copies[i];
    if (!copy.Facts.Error.empty()) continue;
    auto [it, added] = newest.emplace(copy.Facts.Guid, i);
    if (added) continue;
    const TArchivedCopy& held = copies[it->second];
    if (copy.Time > held.Time || (copy.Time == held.Time && copy.Path > held.Path)) it->second = i;
  }
  std::vector<int> result;
  result.reserve(guids.size());
  for (const std::string& guid : guids) {
    auto it = newest.find(guid);
    result.push_back(it == newest.end() ? -1 : it->second);
  }
  return result;
}

std::string OneLine(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace service
