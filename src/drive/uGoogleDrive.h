#pragma once
// The Drive client (REST API v3, "files"): folder listings with paging, sub-folder search and
// creation, a folder path walked or built below a root folder with a per-client cache of folder
// IDs, and downloads streamed into "<destination>.part" and moved into place only when complete.
// Every request carries the token holder's access token.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/DateTimes.h"
#include "core/HttpClient.h"
#include "drive/uGoogleAuth.h"

namespace kelvo {

inline constexpr char DriveFolderMimeType[] = "application/vnd.google-apps.folder";

struct TDriveFileInfo {
  std::string FileID;
  std::string Name;
  std::string RelativePath;  // filled by recursive listings; empty from ListFiles
  std::string MimeType;
  int64_t Size = 0;  // 0 when absent (folders) or not a number
  std::string MD5;
  TDateTime ModifiedTime = 0;  // local time; 0 when absent or unreadable
};

// Progress of a transfer: bytes so far and the whole size.
using TUploadProgress = std::function<void(int64_t BytesSent, int64_t TotalBytes)>;

// A listing reply that cannot be read as one (an entry of "files" that is not an object).
class EDriveReplyError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TGoogleDrive {
 public:
  // Auth is not owned and must outlive the client; without one the requests carry no token.
  explicit TGoogleDrive(TGoogleAuth& Auth);
  explicit TGoogleDrive(TGoogleAuth* Auth);
  ~TGoogleDrive();
  TGoogleDrive(const TGoogleDrive&) = delete;
  TGoogleDrive& operator=(const TGoogleDrive&) = delete;

  // Every entry of the folder (every entry the token can see when ParentFolderID is empty), page
  // by page in reply order. An error reply ends the listing with what came before it; a transport
  // failure or a malformed entry gives an empty list.
  std::vector<TDriveFileInfo> ListFiles(const std::string& ParentFolderID);
  // ID of the first folder of that name in the parent, or empty.
  std::string FindSubFolder(const std::string& ParentFolderID, const std::string& FolderName);
  // ID of a new folder, or empty; transport failures raise EHttpError.
  std::string CreateFolder(const std::string& FolderName, const std::string& ParentFolderID);
  // ID of the deepest folder of RelativePath ("\" and "/" separate) below RootFolderID, searching
  // and creating levels as needed; empty when a level can be neither found nor created.
  std::string EnsureFolderPath(const std::string& RootFolderID, const std::string& RelativePath);
  // Downloads the file's content to DestPath; OnProgress (may be unset) hears of the bytes as they
  // arrive and once more at the end with the file's size. True only when the whole content now
  // lies at DestPath; otherwise an existing file there is untouched and no ".part" file remains.
  bool DownloadFile(const std::string& FileID, const std::string& DestPath, const TUploadProgress& OnProgress);

 private:
  static TDateTime ParseDriveTime(const std::string& Text);
  static std::string NormalizeDrivePath(const std::string& Path);

  THttpHeaders AuthHeaders();
  bool Interactive() const;
  // The search of FindSubFolder; Answered tells whether the Drive gave a listing at all.
  std::string SearchSubFolder(const std::string& ParentFolderID, const std::string& FolderName, bool& Answered);

  TGoogleAuth* FAuth = nullptr;
  std::unique_ptr<THttpClient> FHttpClient;
  std::map<std::string, std::string> FFolderCache;
};

// Reads one page of a listing reply: appends the entries of its "files" array and sets
// NextPageToken from "nextPageToken" (empty when absent). False, with nothing appended, when the
// body is not a JSON object. Raises EDriveReplyError when an entry of "files" is not an object.
bool ReadDriveListPage(const std::string& Body, std::vector<TDriveFileInfo>& Files, std::string& NextPageToken);

// A Drive time (RFC 3339, normally UTC with "Z") as a local date-time; 0 when it cannot be read.
TDateTime DriveTimeToLocal(const std::string& Text);

// A text inside a single-quoted value of a Drive query: backslash and apostrophe escaped.
std::string EscapeDriveQueryText(const std::string& Text);

}  // namespace kelvo
