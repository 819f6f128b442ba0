#include "catalogue/uAccountDriveContext.h"

#include <exception>

#include "account/uFirebaseActiveAccount.h"
#include "core/TextRules.h"

namespace kelvo {

std::string SanitizeAccountFolderName(const std::string& Text) {
  std::string Result = Trim(Text);
  for (char& C : Result) {
    switch (C) {
      case '/':
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        C = '-';
        break;
      default:
        break;
    }
  }
  return Result.empty() ? "Hesap" : Result;
}

bool GetAccountFolderName(std::string& FolderName, std::string& ErrorMessage) {
  FolderName.clear();
  ErrorMessage.clear();
  TFirebaseManagedAccount Account;
  if (!GetActiveAccount(Account, ErrorMessage)) return false;
  if (!Trim(Account.DisplayName).empty())
    FolderName = SanitizeAccountFolderName(Account.DisplayName);
  else if (!Trim(Account.LoginName).empty())
    FolderName = SanitizeAccountFolderName(Account.LoginName);
  else
    FolderName = "Hesap";
  return true;
}

bool EnsureAccountDriveFolder(TGoogleDrive& Drive, const std::string& RootFolderID, std::string& FolderID,
                              std::string& ErrorMessage) {
  FolderID.clear();
  ErrorMessage.clear();
  std::string FolderName;
  if (!GetAccountFolderName(FolderName, ErrorMessage)) return false;
  std::string Root = Trim(RootFolderID);
  if (Root.empty()) Root = "root";
  try {
    FolderID = Drive.EnsureFolderPath(Root, FolderName);
  } catch (const EGoogleLinkError& E) {
    ErrorMessage = E.what();  // says itself what the operator must do
    return false;
  } catch (const std::exception& E) {
    FolderID.clear();
    ErrorMessage = std::string("Hesap ana klasoru hazirlanamadi: ") + E.what();
    return false;
  }
  if (FolderID.empty()) {
    ErrorMessage = "Hesap ana klasoru olusturulamadi: " + FolderName;
    return false;
  }
  return true;
}

}  // namespace kelvo
