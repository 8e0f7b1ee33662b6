#include "delivery/mime_message.h"

#include <algorithm>
#include <cstring>

#include "common/guid.h"
#include "common/text.h"
#include "delivery/mime_text.h"

namespace ostrevane::delivery {
namespace {

constexpr size_t kLineBytes = 57;        // file bytes of one base64 line
constexpr curl_off_t kLineSize = 78;     // 76 characters and CR LF
constexpr size_t kChunkLines = 1024;     // lines encoded at a time

}  // namespace

curl_off_t Base64LinesSize(curl_off_t n) {
  const curl_off_t chars = (n + 2) / 3 * 4;
  return chars + (chars + 75) / 76 * 2;
}

MimeMessage::MimeMessage(const std::vector<std::string>& headers) {
  // "=_" never occurs in base64 or in our part headers, so no line of the
  // message can be taken for a boundary.
  std::string id = GuidToText(NewGuid());
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  boundary_ = "=_" + ToLowerAscii(id);
  std::string text;
  for (const std::string& h : headers) text += h + "\r\n";
  text += "MIME-Version: 1.0\r\n";
  text += FoldedHeader("Content-Type", {"multipart/mixed;", "boundary=\"" + boundary_ + "\""});
  text += "\r\n\r\n";
  AddText(std::move(text));
}

void MimeMessage::AddText(std::string text) {
  Piece piece;
  piece.start = size_;
  piece.size = curl_off_t(text.size());
  piece.text = std::move(text);
  size_ += piece.size;
  pieces_.push_back(std::move(piece));
}

void MimeMessage::AddFile(const std::vector<std::string>& part_headers,
                          std::unique_ptr<FileSource> file) {
  std::string text = "--" + boundary_ + "\r\n";
  for (const std::string& h : part_headers) text += h + "\r\n";
  text += "Content-Transfer-Encoding: base64\r\n\r\n";
  AddText(std::move(text));
  Piece piece;
  piece.start = size_;
  piece.size = Base64LinesSize(file->size());
  piece.file = std::move(file);
  size_ += piece.size;
  pieces_.push_back(std::move(piece));
}

void MimeMessage::AddText(const std::vector<std::string>& part_headers, std::string_view text) {
  std::string crlf;
  crlf.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      crlf += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      crlf += text[i];
    }
  }
  std::string part = "--" + boundary_ + "\r\n";
  for (const std::string& h : part_headers) part += h + "\r\n";
  part += "Content-Transfer-Encoding: base64\r\n\r\n";
  part += Base64(crlf, 76);
  if (!part.ends_with("\r\n")) part += "\r\n";
  AddText(std::move(part));
}

void MimeMessage::Finish() { AddText("--" + boundary_ + "--\r\n"); }

bool MimeMessage::FillFromFile(Piece& piece) {
  // Never more than the size the file had when it was opened: that size
  // is in the message's length.
  const curl_off_t left = piece.file->size() - file_read_;
  std::string bytes(size_t(std::min<curl_off_t>(kLineBytes * kChunkLines, left)), '\0');
  size_t got = 0;
  while (got < bytes.size()) {
    const size_t n = ReadCallback(bytes.data() + got, 1, bytes.size() - got, piece.file.get());
    if (n == CURL_READFUNC_ABORT) {
      read_error_ = piece.file->read_error();
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  bytes.resize(got);
  file_read_ += curl_off_t(got);
  pending_ = Base64(bytes, 76);
  pending_pos_ = 0;
  return true;
}

size_t MimeMessage::Read(char* buffer, size_t length) {
  size_t done = 0;
  while (done < length && piece_ < pieces_.size()) {
    Piece& piece = pieces_[piece_];
    if (offset_ >= piece.size) {
      ++piece_;
      offset_ = 0;
      pending_.clear();
      pending_pos_ = 0;
      file_read_ = 0;
      // A file read before a rewind starts again from its beginning.
      if (piece_ < pieces_.size() && pieces_[piece_].file &&
          SeekCallback(pieces_[piece_].file.get(), 0, SEEK_SET) != CURL_SEEKFUNC_OK) {
        read_error_ = "Cannot rewind a file to attach";
        return CURL_READFUNC_ABORT;
      }
      continue;
    }
    if (!piece.file) {
      const size_t n = std::min(length - done, size_t(piece.size - offset_));
      std::memcpy(buffer + done, piece.text.data() + offset_, n);
      done += n;
      offset_ += curl_off_t(n);
      continue;
    }
    if (pending_pos_ == pending_.size()) {
      if (!FillFromFile(piece)) return CURL_READFUNC_ABORT;
      if (pending_.empty()) {  // the file is shorter than when it was opened
        read_error_ = "The file to attach changed while it was sent";
        return CURL_READFUNC_ABORT;
      }
    }
    const size_t n = std::min(length - done, pending_.size() - pending_pos_);
    std::memcpy(buffer + done, pending_.data() + pending_pos_, n);
    pending_pos_ += n;
    done += n;
    offset_ += curl_off_t(n);
  }
  return done;
}

bool MimeMessage::Seek(curl_off_t offset) {
  if (offset < 0 || offset > size_) return false;
  piece_ = 0;
  while (piece_ + 1 < pieces_.size() && pieces_[piece_].start + pieces_[piece_].size <= offset)
    ++piece_;
  Piece& piece = pieces_[piece_];
  offset_ = offset - piece.start;
  pending_.clear();
  pending_pos_ = 0;
  if (!piece.file) return true;
  // Every full line stands for 57 bytes of the file: start at the line.
  const curl_off_t line = offset_ / kLineSize;
  file_read_ = line * curl_off_t(kLineBytes);
  if (SeekCallback(piece.file.get(), file_read_, SEEK_SET) != CURL_SEEKFUNC_OK) return false;
  const curl_off_t skip = offset_ - line * kLineSize;
  if (skip > 0) {
    if (!FillFromFile(piece)) return false;
    pending_pos_ = std::min(size_t(skip), pending_.size());
  }
  return true;
}

}  // namespace ostrevane::delivery
