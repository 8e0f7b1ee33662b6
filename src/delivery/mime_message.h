// A mail message with attachments as the bytes libcurl uploads after DATA:
// our own headers and MIME structure (every line within 78 characters,
// which libcurl's MIME builder does not keep for its boundary line), the
// files base64-encoded while they are read, never held whole in memory.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "delivery/curl_easy.h"

namespace ostrevane::delivery {

class MimeMessage : public UploadSource {
 public:
  // `headers`: the message's header lines (without line ends), before
  // MIME-Version and the multipart Content-Type this adds.
  explicit MimeMessage(const std::vector<std::string>& headers);

  // Adds a part: its header lines (Content-Transfer-Encoding is added) and
  // the bytes of `file`, opened by the caller (so a file that cannot be
  // opened has failed before).
  void AddFile(const std::vector<std::string>& part_headers, std::unique_ptr<FileSource> file);
  // Adds a text part (UTF-8): its header lines (Content-Transfer-Encoding
  // is added) and the text, its line ends sent as CR LF.
  void AddText(const std::vector<std::string>& part_headers, std::string_view text);
  // Ends the structure; no part can be added after it.
  void Finish();

  curl_off_t size() const override { return size_; }
  const std::string& boundary() const { return boundary_; }

 protected:
  size_t Read(char* buffer, size_t length) override;
  bool Seek(curl_off_t offset) override;

 private:
  // A text, or a file sent as base64 lines of 76 characters (57 bytes).
  struct Piece {
    std::string text;
    std::unique_ptr<FileSource> file;
    curl_off_t start = 0;  // offset in the message
    curl_off_t size = 0;   // bytes in the message
  };
  void AddText(std::string text);
  // Encodes the next lines of the current file piece into `pending_`.
  bool FillFromFile(Piece& piece);

  std::string boundary_;
  std::vector<Piece> pieces_;
  curl_off_t size_ = 0;
  // Read position: the piece, the offset in it, and for a file piece the
  // encoded bytes not yet handed out.
  size_t piece_ = 0;
  curl_off_t offset_ = 0;
  std::string pending_;
  size_t pending_pos_ = 0;
  curl_off_t file_read_ = 0;  // bytes of the current file piece read
};

// Bytes of the base64 form of `n` bytes in lines of 76 characters, each
// ended by CR LF.
curl_off_t Base64LinesSize(curl_off_t n);

}  // namespace ostrevane::delivery
