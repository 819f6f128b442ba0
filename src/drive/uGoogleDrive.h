#pragma once
// The Drive client (REST API v3, "files"): folder listings with paging, sub-folder search and
// creation, a folder path walked or built below a root folder with a per-client cache of folder
// IDs, and downloads streamed into a temporary file of our own, checked against Drive's size and
// MD5 and moved into place only when complete. Every request carries the token holder's access
// token and asks for shared drives too; passing failures (rate limits, 5xx, a broken connection)
// are repeated with backoff, a broken download goes on from the bytes it has, and a cancel ends
// a transfer or a wait at once.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/CancelToken.h"
#include "core/DateTimes.h"
#include "core/HttpClient.h"
#include "core/Retry.h"
#include "drive/uGoogleAuth.h"
#include "platform/Errors.h"
#include "platform/SafeFiles.h"

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

// A Drive request that failed for good; what() says which and why (status and Google's reason).
class EDriveError : public EKelvoError {
 public:
  using EKelvoError::EKelvoError;
};

// Google refused to renew the account's link (the refresh token was revoked or has expired): no
// request can succeed until the link is made again on the backup side.
class EGoogleLinkError : public EDriveError {
 public:
  EGoogleLinkError();
};

// A listing reply that cannot be read as one (an entry of "files" that is not an object).
class EDriveReplyError : public EDriveError {
 public:
  using EDriveError::EDriveError;
};

class TGoogleDrive {
 public:
  // Auth is not owned and must outlive the client; without one the requests carry no token.
  explicit TGoogleDrive(TGoogleAuth& Auth);
  explicit TGoogleDrive(TGoogleAuth* Auth);
  ~TGoogleDrive();
  TGoogleDrive(const TGoogleDrive&) = delete;
  TGoogleDrive& operator=(const TGoogleDrive&) = delete;

  // Requests from now on end with EOperationCancelled (or false) once Token is cancelled.
  void SetCancelToken(std::shared_ptr<const TCancelToken> Token);
  void SetRetryPolicy(const TRetryPolicy& Policy) { FRetry = Policy; }

  // Every entry of the folder, page by page in reply order. Raises EDriveError naming the cause
  // when any page cannot be had (after retries) or read, and for an empty ParentFolderID: nothing
  // is listed without a parent.
  std::vector<TDriveFileInfo> ListFolder(const std::string& ParentFolderID);
  // The same as a list that is empty on failure (every entry the token can see when
  // ParentFolderID is empty); a partial list is never returned.
  std::vector<TDriveFileInfo> ListFiles(const std::string& ParentFolderID);
  // ID of the first folder of that name in the parent, or empty (also when the Drive could not be
  // asked).
  std::string FindSubFolder(const std::string& ParentFolderID, const std::string& FolderName);
  // ID of a new folder, or empty; transport failures raise EHttpError.
  std::string CreateFolder(const std::string& FolderName, const std::string& ParentFolderID);
  // ID of the deepest folder of RelativePath ("\" and "/" separate) below RootFolderID, searching
  // and creating levels as needed; empty when a level can be neither found nor created.
  std::string EnsureFolderPath(const std::string& RootFolderID, const std::string& RelativePath);
  // Downloads the file's content into a new temporary file "<Stem>.<random>.part" in Folder and
  // returns it complete and checked: its size against File.Size and its MD5 against File.MD5
  // (asked of the Drive first when File carries neither). OnProgress (may be unset) hears of the
  // bytes while they arrive. Raises EDriveError (failed request, mismatch), EFileError (local
  // writes), EOperationCancelled; the temporary file is gone then.
  platform::TTempFile DownloadToTemp(const TDriveFileInfo& File, const platform::TFolder& Folder,
                                     const std::string& Stem, const TUploadProgress& OnProgress);
  // DownloadToTemp into DestPath's folder (created when missing), then the file put in DestPath's
  // place in one step; OnProgress hears once more at the end with the file's size. Raises like
  // DownloadToTemp.
  void DownloadTo(const TDriveFileInfo& File, const std::string& DestPath, const TUploadProgress& OnProgress);
  // Downloads the file's content to DestPath; OnProgress (may be unset) hears of the bytes as they
  // arrive and once more at the end with the file's size. True only when the whole, checked content
  // now lies at DestPath; otherwise an existing file there is untouched and no temporary file
  // remains.
  bool DownloadFile(const std::string& FileID, const std::string& DestPath, const TUploadProgress& OnProgress);

 private:
  static TDateTime ParseDriveTime(const std::string& Text);
  static std::string NormalizeDrivePath(const std::string& Path);

  THttpHeaders AuthHeaders();
  bool Interactive() const;
  const TCancelToken& Cancel() const;
  // Runs Attempt, repeating it after a wait while it fails for a passing reason and attempts are
  // left; returns the last reply (any status) or raises the last transport failure. A request that
  // is not Idempotent is not repeated after a transport failure (the server may have acted on it).
  // A 401 renews the access token once and repeats the request once; a renewal Google refuses
  // raises EGoogleLinkError.
  THttpResponse WithRetry(const char* What, const std::function<THttpResponse()>& Attempt, bool Idempotent = true);
  // Every page of a listing (all entries the token sees for an empty parent); raises EDriveError.
  std::vector<TDriveFileInfo> ListPages(const std::string& ParentFolderID);
  // Size and MD5 of a file as the Drive reports them.
  TDriveFileInfo FileMetadata(const std::string& FileID);
  // The search of FindSubFolder; Answered tells whether the Drive gave a listing at all.
  std::string SearchSubFolder(const std::string& ParentFolderID, const std::string& FolderName, bool& Answered);

  TGoogleAuth* FAuth = nullptr;
  std::unique_ptr<THttpClient> FHttpClient;
  std::shared_ptr<const TCancelToken> FCancel;
  TRetryPolicy FRetry;
  bool FLinkRefused = false;  // every request fails at once after a refused renewal
  std::map<std::string, std::string> FFolderCache;
};

// Reads one page of a listing reply: appends the entries of its "files" array and sets
// NextPageToken from "nextPageToken" (empty when absent). False, with nothing appended, when the
// body is not a JSON object. Raises EDriveReplyError when an entry of "files" is not an object.
bool ReadDriveListPage(const std::string& Body, std::vector<TDriveFileInfo>& Files, std::string& NextPageToken);

// A Drive time (RFC 3339, normally UTC with "Z") as a local date-time; 0 when it cannot be read.
TDateTime DriveTimeToLocal(const std::string& Text);

// "(<status> <reason>)" of a Drive error reply, e.g. "(403 userRateLimitExceeded)"; the reason is
// Google's "errors[0].reason" (else "status") when the body carries one.
std::string DriveFailureText(const THttpResponse& Response);
// A reply worth repeating: 429, 500, 502, 503, 504, and 403 for a rate limit.
bool IsTransientDriveReply(const THttpResponse& Response);

// A text inside a single-quoted value of a Drive query: backslash and apostrophe escaped.
std::string EscapeDriveQueryText(const std::string& Text);

}  // namespace kelvo
