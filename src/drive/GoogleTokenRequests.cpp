// The directory's nodes read from the cloud database through the service session, with the
// messages of each failure.
#include <string>
#include <string_view>
#include <vector>

#include "account/uFirebaseAccountStore.h"
#include "account/uFirebaseServiceAuth.h"
#include "core/HttpClient.h"
#include "core/TextRules.h"
#include "drive/GoogleTokenDirectory.h"

namespace kelvo {

namespace {

constexpr char EmptyKeyReplacement[] = "kayit";
constexpr char EmptyAccountIdMessage[] = "Google Drive hesap kimligi bos.";
constexpr char AccountNotFoundMessage[] = "Google Drive hesabi bulunamadi.";
constexpr char AccountUnreadableMessage[] = "Google Drive hesabi okunamadi.";
constexpr char AccountReadErrorPrefix[] = "Google Drive hesabi okunurken hata: ";
constexpr char PoolUnreadableMessage[] = "Google Drive hesap havuzu okunamadi.";
constexpr char PoolReadErrorPrefix[] = "Google Drive hesap havuzu okunurken hata: ";
constexpr char LinksUnreadableMessage[] = "Musteri Google baglanti listesi okunamadi.";
constexpr char LinksReadErrorPrefix[] = "Musteri Google baglanti listesi okunurken hata: ";

// A list node read with Reader; nothing of a read that failed is left in Items.
template <typename TItem>
TServiceRead FetchListNode(const char* Node, bool (*Reader)(std::string_view, std::vector<TItem>&),
                           const char* UnreadableMessage, const char* ErrorPrefix, std::vector<TItem>& Items,
                           std::string& Message) {
  Items.clear();
  const auto Read = [&](std::string_view Reply) { return Reader(Reply, Items); };
  const TServiceRead Result = ReadServiceNode(Node, Read, UnreadableMessage, ErrorPrefix, Message);
  if (Result == TServiceRead::Failed) Items.clear();
  return Result;
}

}  // namespace

TServiceRead FetchGoogleAccountPool(TGoogleAccountPool& Pool, std::string& Message) {
  return FetchListNode(GoogleAccountsNodeName, ReadGoogleAccountPool, PoolUnreadableMessage, PoolReadErrorPrefix, Pool,
                       Message);
}

TServiceRead FetchGoogleAccountLinks(TGoogleAccountLinks& Links, std::string& Message) {
  return FetchListNode(GoogleAccountLinksNodeName, ReadGoogleAccountLinks, LinksUnreadableMessage, LinksReadErrorPrefix,
                       Links, Message);
}

std::string SanitizeDatabaseKey(const std::string& Text) {
  // The account node rule, whose only difference is the word for an empty key.
  if (Trim(Text).empty()) return EmptyKeyReplacement;
  return SanitizeAccountNodeName(Text);
}

bool ReadGoogleDriveAccount(const std::string& GoogleAccountID, TGoogleDriveAuthorizedAccount& Account,
                            TTokenData& TokenData, std::string& Message) {
  Account = {};
  TokenData = {};
  Message.clear();
  if (Trim(GoogleAccountID).empty()) {
    Message = EmptyAccountIdMessage;
    return false;
  }
  // The key may still hold "%", "?", "@" or non-ASCII letters.
  const std::string Path = std::string(GoogleAccountsNodeName) + "/" + UrlEncode(SanitizeDatabaseKey(GoogleAccountID));
  const auto Read = [&](std::string_view Reply) {
    return ReadGoogleAccountEntry(Reply, GoogleAccountID, Account, TokenData);
  };
  switch (ReadServiceNode(Path, Read, AccountUnreadableMessage, AccountReadErrorPrefix, Message)) {
    case TServiceRead::Read:
      return true;
    case TServiceRead::Missing:
      Message = AccountNotFoundMessage;
      break;
    case TServiceRead::Failed:
      Account = {};
      TokenData = {};
      break;
  }
  return false;
}

}  // namespace kelvo
