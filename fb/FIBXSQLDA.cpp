#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>

#include "fb/FIBInternal.h"
#include "fb/FIBQuery.h"
#include "fb/fib.h"
#include "runtime/Text.h"

// ---- TFIBXSQLDA --------------------------------------------------------------------

TFIBXSQLDA::TFIBXSQLDA(TFIBQuery* query, bool isParams, const TFIBFormatSettings* format)
    : FQuery(query), FIsParams(isParams), FFormat(format) {}

void TFIBXSQLDA::SetCount(int n) {
  static_assert(alignof(XSQLDA) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);
  FNames.clear();
  FCachedNames.clear();
  if (n > FSize) {
    const size_t oldBytes = FSize > 0 ? XSQLDA_LENGTH(FSize) : 0;
    const size_t bytes = XSQLDA_LENGTH(n);
    auto block = std::make_unique<std::byte[]>(bytes);  // zeroed
    if (oldBytes > 0) std::memcpy(block.get(), FBlock.get(), oldBytes);
    FBlock = std::move(block);
    XSQLDA* area = AsXSQLDA();
    area->version = SQLDA_VERSION1;
    for (int i = FSize; i < n; ++i) FVars.push_back(std::make_unique<TFIBXSQLVAR>(this, i));
    FSize = n;
    // The block has moved.
    for (int i = 0; i < n; ++i) FVars[i]->Attach(reinterpret_cast<TFIBSlot*>(&area->sqlvar[i]));
  }
  FCount = n;
  if (XSQLDA* area = AsXSQLDA()) area->sqln = area->sqld = static_cast<ISC_SHORT>(n);
}

TFIBXSQLVAR& TFIBXSQLDA::operator[](int index) const {
  if (index < 0 || index >= FCount) RaiseClientError(fbceXSQLDAIndexOutOfRange);
  return *FVars[index];
}

void TFIBXSQLDA::AddName(const std::string& name, int index) {
  FCachedNames.clear();
  FNames[UpperCase(name)].push_back(index);
}

TFIBXSQLVAR* TFIBXSQLDA::FindOwnName(const std::string& key) const {
  const auto it = FNames.find(key);
  return it == FNames.end() ? nullptr : FVars[it->second.front()].get();
}

const std::vector<int>* TFIBXSQLDA::EqualNames(const std::string& name) const {
  const auto it = FNames.find(UpperCase(name));
  return it != FNames.end() && it->second.size() > 1 ? &it->second : nullptr;
}

TFIBXSQLVAR* TFIBXSQLDA::ByName(const std::string& name) const {
  for (const auto& [asked, v] : FCachedNames)
    if (asked == name) return v;
  const std::string key = UpperCase(name);
  if (TFIBXSQLVAR* v = FindOwnName(key)) {
    FCachedNames.emplace_back(name, v);
    return v;
  }
  if (FQuery && this == &FQuery->ParamArea()) return FQuery->ServerParamArea().FindOwnName(key);
  return nullptr;
}

void TFIBXSQLDA::Setup() {
  const bool nameThem = FNames.empty();
  int unnamed = 0;
  for (int i = 0; i < FCount; ++i) {
    TFIBXSQLVAR& v = *FVars[i];
    XSQLVAR& slot = *v.Data();
    if (nameThem) {
      const size_t maxLen = std::min<size_t>(std::max<int>(slot.aliasname_length, 0), 32);
      std::string name(slot.aliasname, strnlen(slot.aliasname, maxLen));
      bool changed = false;
      if (name.empty()) {
        name = "F_" + std::to_string(++unnamed);
        changed = true;
      }
      if (FindOwnName(UpperCase(name))) {
        for (int k = 1;; ++k) {
          const std::string counter = std::to_string(k);
          std::string candidate = name + counter;
          if (candidate.size() >= 31) candidate = name.substr(0, 32 - counter.size()) + counter;
          if (!FindOwnName(UpperCase(candidate))) {
            name = candidate;
            break;
          }
        }
        changed = true;
      }
      if (changed) {
        const size_t len = std::min<size_t>(name.size(), sizeof slot.aliasname);
        std::memset(slot.aliasname, 0, sizeof slot.aliasname);
        std::memcpy(slot.aliasname, name.data(), len);
        slot.aliasname_length = static_cast<ISC_SHORT>(len);
      }
      v.FName = name;
      AddName(name, i);
    }
    v.SetupFromSlot();
  }
}
