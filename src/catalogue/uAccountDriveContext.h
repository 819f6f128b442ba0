#pragma once
// The signed-in account's own folder in Google Drive: its name from the account record and the
// folder resolved (and created when missing) below the configured root folder.
#include <string>

#include "drive/uGoogleDrive.h"

namespace kelvo {

// Blanks and control characters trimmed, each of / \ : * ? " < > | replaced with "-", "Hesap" for
// nothing left.
std::string SanitizeAccountFolderName(const std::string& Text);
// The sanitised display name, else the sanitised login name, else "Hesap"; false with the active
// account's error text when nobody is signed in.
bool GetAccountFolderName(std::string& FolderName, std::string& ErrorMessage);
// ID of the account folder below RootFolderID ("root" when blank), created when missing; false with
// a Turkish error text.
bool EnsureAccountDriveFolder(TGoogleDrive& Drive, const std::string& RootFolderID, std::string& FolderID,
                              std::string& ErrorMessage);

}  // namespace kelvo
