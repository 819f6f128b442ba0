#pragma once
// Local paths built from cloud names. Drive names come from another machine (or anyone who can write
// to the account's Drive), so every component is checked before a file is written: nothing may land
// outside the chosen folder, and names the file system cannot hold fail that file alone.
#include <string>
#include <vector>

namespace kelvo {

// True when Name can be one component of a local path: not empty, not "." or "..", no "\" or "/",
// no NUL or other control character, none of < > : " | ? *, no trailing blank or full stop, not a
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without extension), at most 255 bytes.
bool IsSafeLocalName(const std::string& Name);

// The components of a relative path written with "\" or "/" separators, each checked with
// IsSafeLocalName. False with a Turkish message (and Parts empty) for an absolute or otherwise
// unusable relative path.
bool SplitSafeRelativePath(const std::string& RelativePath, std::vector<std::string>& Parts, std::string& Message);

// Joins BaseFolder with a relative path written with "\" or "/" separators, checking each component
// with IsSafeLocalName. False with a Turkish message (and Path empty) for an absolute or otherwise
// unusable relative path.
bool BuildSafeLocalPath(const std::string& BaseFolder, const std::string& RelativePath, std::string& Path,
                        std::string& Message);

}  // namespace kelvo
