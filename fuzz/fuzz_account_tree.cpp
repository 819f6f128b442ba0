// The account directory reads whatever the database (or something in its place) answers for the
// account tree and for one account node. Checks that hold for every input: a refused reply leaves
// no accounts, the list is in login-then-path order, node paths end in node names, the defaults
// fill what the node leaves empty, and sanitised node names are safe database keys.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "account/uFirebaseAccountStore.h"

namespace {

unsigned char Fold(char C) {
  const auto U = static_cast<unsigned char>(C);
  return (U >= 'a' && U <= 'z') ? static_cast<unsigned char>(U - 32) : U;
}

int Compare(std::string_view A, std::string_view B) {
  for (size_t I = 0; I < A.size() && I < B.size(); ++I)
    if (Fold(A[I]) != Fold(B[I])) return Fold(A[I]) < Fold(B[I]) ? -1 : 1;
  return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

bool EndsWithName(const std::string& Path, const std::string& Name) {
  if (Path == Name) return true;
  return Path.size() > Name.size() && Path.compare(Path.size() - Name.size(), Name.size(), Name) == 0 &&
         Path[Path.size() - Name.size() - 1] == '/';
}

void Check(bool Condition) {
  if (!Condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);

  std::vector<kelvo::TFirebaseManagedAccount> Accounts;
  const bool Read = kelvo::ReadAccountTree(Text, Accounts);
  if (!Read) Check(Accounts.empty());
  for (size_t I = 0; I < Accounts.size(); ++I) {
    const auto& A = Accounts[I];
    Check(EndsWithName(A.NodePath, A.NodeName));
    if (!A.LoginName.empty()) Check(!A.Email.empty() && !A.DisplayName.empty());
    if (I > 0) {
      const auto& P = Accounts[I - 1];
      const int ByLogin = Compare(P.LoginName, A.LoginName);
      Check(ByLogin < 0 || (ByLogin == 0 && Compare(P.NodePath, A.NodePath) <= 0));
    }
  }
  if (Read && !Accounts.empty()) {
    kelvo::TFirebaseManagedAccount Found;
    Check(kelvo::FindAccountInList(Accounts, Accounts.back().LoginName, Found));
  }

  kelvo::TFirebaseManagedAccount Node;
  if (kelvo::ReadAccountNode(Text, "Lisanslar/n", "n", Node)) {
    Check(Node.NodePath == "Lisanslar/n" && Node.NodeName == "n");
    Check(!Node.LoginName.empty() && !Node.Email.empty() && !Node.DisplayName.empty());
  } else {
    Check(Node.LoginName.empty());
  }

  const std::string Key = kelvo::SanitizeAccountNodeName(Text.substr(0, 512));
  Check(!Key.empty() && static_cast<unsigned char>(Key.front()) > 32 && static_cast<unsigned char>(Key.back()) > 32);
  Check(Key.find_first_of("#$./[\\] \t\r\n\v\f") == std::string::npos);
  return 0;
}
