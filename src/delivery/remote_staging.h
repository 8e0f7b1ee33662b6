// Remote files whole or absent: the FTP and SFTP deliveries store every
// file under a temporary name in the target folder and give it its own name
// only once all its bytes are there, so that nobody who watches the folder
// ever sees part of a file under its final name. The rename and the
// removals are commands that libcurl sends on the connection of the
// transfer (its post-transfer quote list). Used on one worker thread, with
// the CurlEasy of one try.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "delivery/curl_easy.h"

namespace ostrevane::delivery {

// ".NAME.part-" and six random letters or digits; NAME is shortened (at a
// character boundary) when the whole would pass 255 bytes.
std::string TemporaryRemoteName(const std::string& name);

// The name a file of the job gets on the server: its own file name. Throws
// a permanent DeliveryError of `error_class`, its message after `target`,
// for a name that cannot go into a rename or remove command: empty, or
// holding a control character (a line end would start another command).
std::string RemoteFileName(const std::string& path, const char* error_class,
                           const std::string& target);

// How far an FTP or SFTP delivery got over its tries: the files stored
// (a retry goes on with the next one), and the temporary files that a
// failed try could not remove (a retry removes them first).
struct RemoteProgress {
  size_t files_done = 0;
  std::vector<std::string> leftovers;
};

// What the two protocols differ in: their URLs and commands. Names are
// bare file names in the target folder.
class RemoteFolder {
 public:
  virtual ~RemoteFolder() = default;
  // The URL that stores `name` in the folder.
  virtual std::string FileUrl(const std::string& name) const = 0;
  // The URL of the folder: a request for it moves no data and only runs
  // the commands.
  virtual std::string FolderUrl() const = 0;
  virtual std::vector<std::string> RenameCommands(const std::string& from,
                                                  const std::string& to) const = 0;
  virtual std::string RemoveCommand(const std::string& name) const = 0;
  // Whether a store that failed with `rc` may have created its file.
  virtual bool MayHaveCreated(CURLcode rc, const CurlEasy& easy) const = 0;
  // Whether a removal that failed says the file was not there.
  virtual bool WasAbsent(const CurlEasy&) const { return false; }
};

// Stores files one by one under temporary names and renames them. A
// rename that the server refuses because the name is taken (SFTP version 3
// never renames onto an existing file) is made again after the existing
// file is removed.
class StagedUpload {
 public:
  // `limits` are those the easy handle works under; `leftovers` lists the
  // temporary files that earlier tries of the delivery could not remove,
  // kept by the caller across tries.
  StagedUpload(CurlEasy& easy, const RemoteFolder& folder, const TransferLimits& limits,
               std::vector<std::string>& leftovers);

  // Removes the leftovers of earlier tries, as far as the server lets it;
  // a failure here is not one of the delivery.
  void RemoveLeftovers();

  // Uploads `file` as `name`: CURLE_OK once it is in place under its own
  // name; otherwise the code of the failed step, the easy handle still
  // holding its error and trace.
  CURLcode Store(UploadSource& file, const std::string& name);
  // The last Store got every byte across and failed to rename.
  bool rename_failed() const { return rename_failed_; }
  // The temporary name of the last Store.
  const std::string& temporary_name() const { return temporary_; }

  // After a failed Store (`rc`, and whether the delivery's deadline has
  // passed): removes its temporary file when there may be one and the
  // connection (or a new one) allows it; a Store that the job's stop broke
  // off gets one removal too, of a few seconds at most. Returns "" when
  // nothing is left behind, else the sentence to add to the error ("; the
  // partial file ... could not be removed from the server (...)").
  std::string CleanUp(CURLcode rc, bool deadline_expired);

 private:
  // Runs `commands` in the folder without a transfer.
  CURLcode RunCommands(const std::vector<std::string>& commands);
  std::string LeftoverNote(const std::string& why) const;

  CurlEasy& easy_;
  const RemoteFolder& folder_;
  TransferLimits limits_;
  std::vector<std::string>& leftovers_;
  std::string temporary_;
  bool rename_failed_ = false;
  // When the try's share of the delivery_timeout ends (with a total).
  std::chrono::steady_clock::time_point deadline_;
};

}  // namespace ostrevane::delivery
