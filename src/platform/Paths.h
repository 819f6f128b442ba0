#pragma once
// Folders the operating system provides.
#include <string>

namespace kelvo::platform {

// Folder of the running program file (from /proc/self/exe; GetModuleFileNameW on Windows), without a
// trailing separator.
std::string ProgramDir();
// Tests place the program in a folder of their own; an empty text returns to the real folder.
void SetProgramDirForTests(const std::string& Dir);

// Private per-user temporary folder: $XDG_RUNTIME_DIR, else $TMPDIR or /tmp, plus "/kelvo-<uid>";
// created with mode 0700. Raises EFileError when it belongs to another user or is not a
// private folder. On Windows: the user's temporary folder (GetTempPathW) plus "\Kelvo", with a
// protected access list that gives full control to this user alone; refused when it is a link or
// junction or belongs to someone else.
std::string PrivateTempDir();

// A new folder inside Base named Prefix plus six random characters, made exclusively for this user
// (mkdtemp, mode 0700; on Windows CreateDirectoryW with a fresh random name until one is free, the
// access list inherited from Base). Empty when it cannot be made.
std::string MakeUniqueFolder(const std::string& Base, const std::string& Prefix);

// Machine-wide application data folder: $PROGRAMDATA when set, else /var/lib (Windows: the known
// folder ProgramData). Empty never.
std::string ProgramDataDir();
// The product's machine folder: ProgramDataDir() + "/Korvessa". It holds the machine key, and the
// configuration when the program folder has none.
std::string MachineDataDir();
// Per-user application data folder: $APPDATA when set, else $XDG_CONFIG_HOME, else ~/.config
// (Windows: the known folder RoamingAppData).
std::string AppDataDir();

// Value of an environment variable, empty when unset.
std::string GetEnv(const std::string& Name);

// Path without trailing "/" (a lone "/" stays as it is). On Windows "\" counts as well, and a drive
// root ("C:\") stays as it is.
std::string WithoutTrailingSlashes(std::string Path);

}  // namespace kelvo::platform
