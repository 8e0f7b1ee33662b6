#include "delivery/remote_staging.h"

#include <algorithm>
#include <random>

#include "common/path.h"
#include "common/text.h"

namespace ostrevane::delivery {
namespace {

// A clean-up after a failure is short: a server that does not answer in
// this time gets the note instead.
constexpr long kCleanUpMs = 10000;
constexpr long kCleanUpWaitMs = 5000;
// After a stop, the clean-up is tried once but only for a moment: the run
// must end within seconds (and is ended by force 10 s after the signal).
constexpr long kStoppedCleanUpMs = 3000;

std::string Joined(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

}  // namespace

std::string TemporaryRemoteName(const std::string& name) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static constexpr size_t kRandom = 6;
  static constexpr size_t kLimit = 255;  // the usual file name limit, in bytes
  static constexpr std::string_view kPart = ".part-";
  size_t keep = std::min(name.size(), kLimit - 1 - kPart.size() - kRandom);
  // Not inside a UTF-8 sequence: back up over continuation bytes.
  while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80)
    --keep;
  std::string temporary = "." + name.substr(0, keep) + std::string(kPart);
  std::random_device random;
  std::uniform_int_distribution<size_t> pick(0, sizeof kLetters - 2);
  for (size_t i = 0; i < kRandom; ++i) temporary += kLetters[pick(random)];
  return temporary;
}

std::string RemoteFileName(const std::string& path, const char* error_class,
                           const std::string& target) {
  const std::string name = BaseName(path);
  if (name.empty() || std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      }))
    throw DeliveryError(
        Error(error_class, target + "the file name \"" + ShowControlCharacters(name) +
                               "\" cannot be used on the server"),
        false);
  return name;
}

StagedUpload::StagedUpload(CurlEasy& easy, const RemoteFolder& folder, const TransferLimits& limits,
                           std::vector<std::string>& leftovers)
    : easy_(easy), folder_(folder), limits_(limits), leftovers_(leftovers) {
  if (limits.total_ms > 0)
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(limits.left_ms > 0 ? limits.left_ms : limits.total_ms);
}

CURLcode StagedUpload::RunCommands(const std::vector<std::string>& commands) {
  CurlList list;
  for (const std::string& command : commands) list.Append(command);
  easy_.Set(CURLOPT_UPLOAD, 0L);
  easy_.Set(CURLOPT_NOBODY, 1L);
  easy_.Set(CURLOPT_URL, folder_.FolderUrl());
  easy_.Set(CURLOPT_POSTQUOTE, list.get());
  const CURLcode rc = easy_.Perform();
  easy_.Set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
  easy_.Set(CURLOPT_NOBODY, 0L);
  easy_.Set(CURLOPT_UPLOAD, 1L);
  return rc;
}

void StagedUpload::RemoveLeftovers() {
  std::vector<std::string> still_there;
  for (const std::string& name : leftovers_)
    if (RunCommands({folder_.RemoveCommand(name)}) != CURLE_OK && !folder_.WasAbsent(easy_))
      still_there.push_back(name);
  leftovers_ = std::move(still_there);
}

CURLcode StagedUpload::Store(UploadSource& file, const std::string& name) {
  temporary_ = TemporaryRemoteName(name);
  rename_failed_ = false;
  CurlList rename;
  for (const std::string& command : folder_.RenameCommands(temporary_, name))
    rename.Append(command);
  file.AttachAsUpload(easy_);
  easy_.Set(CURLOPT_INFILESIZE_LARGE, file.size());
  easy_.Set(CURLOPT_URL, folder_.FileUrl(temporary_));
  // Run once the whole file is stored, on the same connection.
  easy_.Set(CURLOPT_POSTQUOTE, rename.get());
  CURLcode rc = easy_.Perform();
  easy_.Set(CURLOPT_POSTQUOTE, static_cast<curl_slist*>(nullptr));
  if (rc != CURLE_QUOTE_ERROR) return rc;
  // The file is there under its temporary name. A server that does not
  // rename onto an existing file gets the existing one removed first.
  std::vector<std::string> replace = {folder_.RemoveCommand(name)};
  for (const std::string& command : folder_.RenameCommands(temporary_, name))
    replace.push_back(command);
  rc = RunCommands(replace);
  rename_failed_ = rc != CURLE_OK;
  return rc;
}

std::string StagedUpload::CleanUp(CURLcode rc, bool deadline_expired) {
  std::string why;
  if (rename_failed_ || folder_.MayHaveCreated(rc, easy_)) {
    const bool stopped = easy_.stopped();
    long budget = stopped ? kStoppedCleanUpMs : kCleanUpMs;
    if (limits_.total_ms > 0)
      budget = std::min<long>(budget, long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                               deadline_ - std::chrono::steady_clock::now())
                                               .count()));
    if (deadline_expired || budget <= 0) {
      why = "no time was left of the delivery_timeout";
    } else {
      // Without the job's stop flag: after a stop it is raised, and the
      // removal must still go out.
      TransferLimits cleanup;
      cleanup.connect_ms = std::min(limits_.connect_ms, std::min(budget, kCleanUpWaitMs));
      cleanup.idle_ms = std::min(limits_.idle_ms, std::min(budget, kCleanUpWaitMs));
      cleanup.total_ms = budget;
      cleanup.stop = nullptr;
      easy_.SetTimeLimits(cleanup);
      const CURLcode removed = RunCommands({folder_.RemoveCommand(temporary_)});
      const bool timed_out = easy_.deadline_expired() || removed == CURLE_OPERATION_TIMEDOUT;
      if (removed != CURLE_OK && !folder_.WasAbsent(easy_))
        why = timed_out ? "the server did not answer in time" : easy_.ErrorText(removed);
      // The run is ending: the handle must not wait for the server again.
      if (stopped && timed_out) easy_.ShutDownConnection();
    }
    if (!why.empty()) leftovers_.push_back(temporary_);
  }
  return LeftoverNote(why);
}

std::string StagedUpload::LeftoverNote(const std::string& why) const {
  if (leftovers_.empty()) return "";
  std::string note = leftovers_.size() == 1
                         ? "; the partial file " + leftovers_[0] + " could not be removed"
                         : "; the partial files " + Joined(leftovers_) + " could not be removed";
  note += " from the server";
  if (!why.empty()) note += " (" + why + ")";
  return note;
}

}  // namespace ostrevane::delivery
