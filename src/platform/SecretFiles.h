#pragma once
// Who may read the files that hold secrets. A user's own configuration folder is that user's alone
// (folder 0700, files 0600). The machine folder is shared with the members of the machine group
// "kelvo": folder 2770, so that what is made in it takes the group, and files 0660. Modes are only
// ever narrowed here: rights an administrator took away stay away.
// On Windows files carry access lists, not modes, and there is no machine group: folders take the
// list of the folder they are made in (the user's profile, ProgramData), FindMachineGroup is false,
// PrepareSecretFolder only makes the folder, and SecretFileMode's value has no effect on a file.
#include <string>

namespace kelvo::platform {

enum class TSecretScope { Owner, MachineGroup };

// "kelvo". Tests name a throw-away group instead; an empty name returns to the real one.
std::string MachineGroupName();
void SetMachineGroupNameForTests(const std::string& Name);
// The machine group's id; false when the group does not exist.
bool FindMachineGroup(unsigned& Gid);

// The scope of a configuration folder: the machine folder (MachineDataDir) is shared with the
// machine group, any other folder belongs to its owner.
TSecretScope SecretScopeOf(const std::string& Dir);

// Mode of a file that holds secrets: 0600, or 0660 shared with the group.
unsigned SecretFileMode(TSecretScope Scope);

// Makes Dir and its missing parents. Dir itself is made 0700, or 2770 with the machine group when
// that group exists, whatever the umask. An existing Dir that belongs to this user loses the rights
// the scope does not give (others', and for Owner the group's too); nothing is ever widened.
// False when Dir is not a folder afterwards.
bool PrepareSecretFolder(const std::string& Dir, TSecretScope Scope);

// True when Dir is a folder this process may enter. A machine folder kept for a group the user is
// not in exists, but is of no use to that user.
bool CanEnterFolder(const std::string& Dir);

}  // namespace kelvo::platform
