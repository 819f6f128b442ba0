// The order of the directory's lists: pool entries by display name, links defaults first and then
// by the display name of their pool entry. Which link is the default depends on it.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/Utf8.h"
#include "drive/GoogleTokenDirectory.h"

namespace kelvo {

namespace {

// Sort key of a name: UTF-16 code units (the order the names were always compared in), with only
// a-z folded to upper case. Bytes that are not UTF-8 count as U+FFFD.
std::u16string FoldedKey(std::string_view Text) {
  std::u16string Key;
  Key.reserve(Text.size());
  for (size_t I = 0; I < Text.size();) {
    char32_t Code = 0;
    const size_t Length = DecodeUtf8(Text, I, Code);
    if (Length == 0) {
      Key.push_back(u'\uFFFD');
      ++I;
      continue;
    }
    I += Length;
    if (Code >= 'a' && Code <= 'z') Code -= 'a' - 'A';
    if (Code >= 0x10000) {
      Key.push_back(static_cast<char16_t>(0xD800 + ((Code - 0x10000) >> 10)));
      Key.push_back(static_cast<char16_t>(0xDC00 + ((Code - 0x10000) & 0x3FF)));
    } else {
      Key.push_back(static_cast<char16_t>(Code));
    }
  }
  return Key;
}

// The exchange sort the directory's lists have always been ordered with: for each position, every
// later entry that belongs before it is swapped in. It is not stable, and the order it leaves equal
// entries in is part of which link is the default, so no other sort may replace it.
// The swaps move only positions; the records are put in their places once at the end.
template <typename TItem, typename TKey, typename TBefore>
void ExchangeSort(std::vector<TItem>& Items, const std::vector<TKey>& Keys, TBefore Before) {
  const size_t Count = Items.size();
  std::vector<uint32_t> Order(Count);
  for (size_t I = 0; I < Count; ++I) Order[I] = static_cast<uint32_t>(I);
  for (size_t I = 0; I + 1 < Count; ++I) {
    uint32_t Current = Order[I];
    for (size_t J = I + 1; J < Count; ++J)
      if (Before(Keys[Order[J]], Keys[Current])) std::swap(Current, Order[J]);
    Order[I] = Current;
  }
  std::vector<TItem> Sorted;
  Sorted.reserve(Count);
  for (const uint32_t Index : Order) Sorted.push_back(std::move(Items[Index]));
  Items = std::move(Sorted);
}

}  // namespace

void SortGoogleAccountLinks(std::vector<TGoogleDriveAccountLink>& Links) {
  struct TLinkKey {
    bool IsDefault;
    std::u16string Name;
  };
  std::vector<TLinkKey> Keys;
  Keys.reserve(Links.size());
  for (const auto& Link : Links) Keys.push_back({Link.IsDefault, FoldedKey(Link.GoogleDisplayName)});
  ExchangeSort(Links, Keys, [](const TLinkKey& A, const TLinkKey& B) {
    if (A.IsDefault != B.IsDefault) return A.IsDefault;
    return A.Name < B.Name;
  });
}

void SortGoogleAccountPool(TGoogleAccountPool& Pool) {
  std::vector<std::u16string> Keys;
  Keys.reserve(Pool.size());
  for (const auto& Account : Pool) Keys.push_back(FoldedKey(Account.DisplayName));
  ExchangeSort(Pool, Keys, [](const std::u16string& A, const std::u16string& B) { return A < B; });
}

}  // namespace kelvo
