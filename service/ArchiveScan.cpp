#include "service/ArchiveScan.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "platform/Platform.h"
#include "runtime/Dates.h"
#include "runtime/Format.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"
#include "service/Archive.h"
#include "service/OrderErrorLine.h"
#include "xml/NativeXml.h"

namespace service {

namespace {

// A field for the listing. A long one is shown from its stored bytes, entity
// references undecoded, rather than decoded into a second copy of megabytes.
std::string FieldOf(const TXmlNode& node) {
  constexpr size_t kDecodedUpTo = 4096;
  const std::string_view raw = node.RawValue();
  return raw.size() <= kDecodedUpTo ? ListingField(node.TextValue()) : ListingField(raw);
}

std::string ChildField(const TXmlNode& parent, const char* name) {
  const TXmlNode* node = parent.FindChild(name);
  return node ? FieldOf(*node) : std::string();
}

// The first child of that name; a missing one fails as the import fails on it.
const TXmlNode& Child(const TXmlNode& parent, const char* name) {
  const TXmlNode* node = parent.FindChild(name);
  if (!node) throw Exception(Format("The order has no %s element.", {name}));
  return *node;
}

// An integer as the import reads it (IntegerValue: StrToInt of the stored value),
// failing with the import's message already cut for a listing, so that a value
// of megabytes is never copied into a message whole.
void ReadInteger(const TXmlNode& node) {
  const std::string_view raw = node.RawValue();
  int32_t value = 0;
  if (TryStrToInt(raw, value)) return;
  const std::string_view tail = "' is not a valid integer value";
  const size_t whole = raw.size() + tail.size() + 1;
  const std::string head = "'" + std::string(raw.substr(0, kListingFieldWidth)) + std::string(tail);
  std::string message = ListingField(std::string_view(head).substr(0, kListingFieldWidth));
  if (whole > kListingFieldWidth)
    message += "...[" + IntToStr(static_cast<int64_t>(whole)) + " bytes]";
  throw Exception(message);
}

// Every value the import reads from the order, read the same way and in the same
// order, so that the first failure is the one the import would meet (only the
// database's own rules are left for it). Messages come out ready for a listing.
void ReadAsTheImport(const TXmlNode& root) {
  Child(root, "DEVICEID");
  Child(root, "PIN");
  ReadInteger(Child(root, "TABLE"));
  const TXmlNode& foods = Child(root, "FOODS");
  for (int i = 0; i < foods.ChildCount(); ++i) {
    const TXmlNode& row = *foods.ChildAt(i);
    ReadInteger(row);
    ReadInteger(Child(row, "count"));
    ReadInteger(Child(row, "weight"));
    Child(row, "isModificator").BooleanValue();
  }
}

// The error column is wider than a field: its text is the program's own words,
// with at most a cut field in them.
constexpr size_t kErrorWidth = 256;

// The facts of a parsed copy.
TOrderFacts FactsOf(const TNativeXml& document) {
  TOrderFacts facts;
  const TXmlNode* root = document.FirstElement();
  const TXmlNode* guid = root ? root->FindChild("GUID") : nullptr;
  if (!guid) {
    facts.Error = kNoGuidMessage;
    return facts;
  }
  facts.Guid = guid->TextValue();
  facts.HasGuid = !IsBlankGuid(facts.Guid);
  facts.DeviceId = ChildField(*root, "DEVICEID");
  facts.Pin = ChildField(*root, "PIN");
  facts.Table = ChildField(*root, "TABLE");
  if (const TXmlNode* foods = root->FindChild("FOODS")) facts.Rows = foods->ChildCount();
  if (!facts.HasGuid) {
    facts.Error = kEmptyGuidMessage;
    return facts;
  }
  try {
    ReadAsTheImport(*root);
  } catch (const std::exception&) {
    facts.Error = ListingField(ExceptionMessage(std::current_exception()), kErrorWidth);
  }
  return facts;
}

TOrderFacts ReaderFailure() {
  TOrderFacts facts;
  facts.Error = ListingField(ExceptionMessage(std::current_exception()), kErrorWidth);
  return facts;
}

// The copies of one folder, links and other folders left out.
void AddCopies(std::vector<TArchivedCopy>& copies, const std::string& sub,
               std::optional<int64_t> since) {
  const std::string delimiter = platform::PathDelimiter();
  const std::string dir = sub.empty() ? kArchiveFolder : kArchiveFolder + delimiter + sub;
  for (platform::TFolderEntry& e : platform::ListEntriesNoFollow(dir)) {
    if (e.IsFolder || e.Name.size() < 4 || e.Name.compare(e.Name.size() - 4, 4, ".xml") != 0)
      continue;
    if (since && e.Time < *since) continue;
    copies.push_back(
        {dir + delimiter + e.Name, std::move(e.Name), sub, e.Time, e.Size, e.DiskBytes});
  }
}

bool SortByPath(const TArchivedCopy& a, const TArchivedCopy& b) { return a.Path < b.Path; }

// The number that `len` decimal digits from `pos` of `text` spell.
int Digits(std::string_view text, size_t pos, size_t len) {
  int value = 0;
  for (size_t i = pos; i < pos + len; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

}  // namespace

TOrderFacts ReadOrderFacts(std::string_view text) {
  TNativeXml document;
  try {
    document.LoadFromText(text);
  } catch (const std::exception&) {
    return ReaderFailure();
  }
  return FactsOf(document);
}

std::vector<TArchivedCopy> ListArchive(std::optional<int64_t> since, bool datedFolders) {
  std::vector<TArchivedCopy> copies;
  AddCopies(copies, "", since);
  if (datedFolders)
    for (const platform::TFolderEntry& e : platform::ListEntriesNoFollow(kArchiveFolder))
      if (e.IsFolder && IsDateFolderName(e.Name)) AddCopies(copies, e.Name, since);
  std::sort(copies.begin(), copies.end(), SortByPath);
  return copies;
}

std::vector<TArchivedCopy> ListRefusedCopies() {
  std::vector<TArchivedCopy> copies;
  const std::string delimiter = platform::PathDelimiter();
  const std::string refused = std::string(kRefusedFolder);
  for (const platform::TFolderEntry& day :
       platform::ListEntriesNoFollow(kArchiveFolder + delimiter + refused)) {
    if (!day.IsFolder || !IsDateFolderName(day.Name)) continue;
    const std::string sub = refused + delimiter + day.Name;
    for (platform::TFolderEntry& e :
         platform::ListEntriesNoFollow(kArchiveFolder + delimiter + sub))
      if (!e.IsFolder)
        copies.push_back({kArchiveFolder + delimiter + sub + delimiter + e.Name, std::move(e.Name),
                          sub, e.Time, e.Size, e.DiskBytes});
  }
  std::sort(copies.begin(), copies.end(), SortByPath);
  return copies;
}

TOrderFacts ReadCopy(const TArchivedCopy& copy) {
  TNativeXml document;
  try {
    std::string text = platform::ReadFileNoFollow(copy.Path, kLargestCopy);
    document.LoadFromText(text);
    // The document holds what it needs: the text goes before the facts are read.
  } catch (const std::exception&) {
    return ReaderFailure();
  }
  return FactsOf(document);
}

std::string DateFolderName(int64_t unixSeconds) { return FormatUtcTime(unixSeconds).substr(0, 10); }

std::optional<int64_t> ParseDate(std::string_view text) {
  if (!IsDateFolderName(text)) return std::nullopt;
  return DaysFromCivil(Digits(text, 0, 4), static_cast<unsigned>(Digits(text, 5, 2)),
                       static_cast<unsigned>(Digits(text, 8, 2))) *
         kSecondsPerDay;
}

bool IsDateFolderName(std::string_view name) {
  if (name.size() != 10 || name[4] != '-' || name[7] != '-') return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (i != 4 && i != 7 && (name[i] < '0' || name[i] > '9')) return false;
  return IsValidCivilDate(Digits(name, 0, 4), Digits(name, 5, 2), Digits(name, 8, 2));
}

std::string GuidKey(std::string_view guid) {
  if (guid.size() <= kGuidKeyBytes) return std::string(guid);
  // FNV-1a: the key of a long GUID only groups copies; replay reads the copy's
  // own text again.
  uint64_t hash = 14695981039346656037ull;
  for (const char c : guid) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char head[48];
  std::snprintf(head, sizeof head,
                "\x01%llu:%016llx:", static_cast<unsigned long long>(guid.size()),
                static_cast<unsigned long long>(hash));
  return head + std::string(guid.substr(0, kGuidKeyBytes));
}

void TNewestCopies::Offer(const std::string& key, size_t index, int64_t time) {
  auto [it, added] = FChosen.emplace(key, std::make_pair(index, time));
  if (!added && time >= it->second.second) it->second = {index, time};
}

long TNewestCopies::Find(const std::string& key) const {
  auto it = FChosen.find(key);
  return it == FChosen.end() ? -1 : static_cast<long>(it->second.first);
}

std::vector<std::pair<std::string, size_t>> TNewestCopies::All() const {
  std::vector<std::pair<std::string, size_t>> all;
  all.reserve(FChosen.size());
  for (const auto& [key, chosen] : FChosen) all.emplace_back(key, chosen.first);
  return all;
}

std::string OneLine(std::string_view text) {
  std::string out = BlankControls(text);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace service
