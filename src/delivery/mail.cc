#include "delivery/mail.h"

#include <unistd.h>

#include <ctime>
#include <memory>
#include <vector>

#include "common/error.h"
#include "common/format_settings.h"
#include "common/guid.h"
#include "common/text.h"
#include "delivery/delivery.h"
#include "delivery/mail_address.h"
#include "delivery/mime_text.h"
#include "delivery/report.h"

namespace ostrevane {
namespace delivery {
namespace {

constexpr char kConnectionError[] = "Connection Error: ";
constexpr char kAuthenticationError[] = "Authentication Error: ";
constexpr char kSendingError[] = "Sending Error: ";

std::string LocalHostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return "localhost";
  return buf;
}

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n') c = ' ';
  return s;
}

std::string BaseName(const std::string& path) {
  size_t at = path.find_last_of("/\\");
  return at == std::string::npos ? path : path.substr(at + 1);
}

const char* ContentTypeOf(const std::string& name) {
  static constexpr struct { const char* ext; const char* type; } kTypes[] = {
      {".csv", "text/csv"}, {".xml", "application/xml"}, {".txt", "text/plain"},
      {".htm", "text/html"}, {".html", "text/html"},     {".json", "application/json"},
      {".pdf", "application/pdf"}, {".zip", "application/zip"}};
  for (const auto& t : kTypes) {
    const size_t n = std::string_view(t.ext).size();
    if (name.size() > n && IEquals(std::string_view(name).substr(name.size() - n), t.ext))
      return t.type;
  }
  return "application/octet-stream";
}

// The file name parameter of an attachment: quoted ASCII, or for other
// names the RFC 2231 form with an encoded-word copy for older readers.
std::string ContentDisposition(const std::string& name) {
  if (IsAscii(name)) {
    std::string quoted;
    for (char c : OneLine(name)) {
      if (c == '"' || c == '\\') quoted += '\\';
      quoted += c;
    }
    return "Content-Disposition: attachment; filename=\"" + quoted + "\"";
  }
  return "Content-Disposition: attachment;\r\n filename*=UTF-8''" + UrlEncode(name) +
         ";\r\n filename=\"" + EncodeHeaderValue(name) + "\"";
}

// The header lines every message carries, in this order.
std::vector<std::string> MessageHeaders(const MailSettings& mail,
                                        const std::vector<MailAddress>& recipients) {
  std::string to = "To: ";
  size_t line_length = to.size();
  for (size_t i = 0; i < recipients.size(); ++i) {
    std::string a = FormatAddress(recipients[i]);
    if (i > 0) {
      to += ',';
      if (line_length + a.size() > 76) {
        to += "\r\n";
        line_length = 0;
      }
      to += ' ';
      ++line_length;
    }
    to += a;
    line_length += a.size() + 1;
  }
  const size_t at = mail.sender.find('@');
  std::string domain = at == std::string::npos ? LocalHostName() : mail.sender.substr(at + 1);
  return {"Date: " + MailDate(std::time(nullptr)),
          "From: " + OneLine(mail.sender),
          to,
          "Subject: " + EncodeHeaderValue(mail.subject),
          "Message-ID: <" + ToLowerAscii(GuidToText(NewGuid())) + "@" + OneLine(domain) + ">"};
}

enum class Phase { kConnect, kAuthenticate, kSend };

// Where the dialogue was when it failed: connecting covers the connection,
// the TLS handshake of TLS 1, the greeting and EHLO; authenticating covers
// STARTTLS and AUTH; sending covers MAIL, RCPT, DATA and the message.
Phase FailurePhase(CURLcode code, const CurlEasy& easy) {
  const ProtocolTrace& trace = easy.trace();
  if (code == CURLE_LOGIN_DENIED || code == CURLE_USE_SSL_FAILED) return Phase::kAuthenticate;
  if (code == CURLE_READ_ERROR || (code == CURLE_ABORTED_BY_CALLBACK && !easy.idle_expired()))
    return Phase::kSend;
  if (trace.data_sent() || trace.Sent("MAIL") || trace.Sent("RCPT") || trace.Sent("DATA"))
    return Phase::kSend;
  if (trace.Sent("STARTTLS") || trace.Sent("AUTH")) return Phase::kAuthenticate;
  return Phase::kConnect;
}

// The server answered MAIL FROM with an error: the dialogue ended there,
// before any recipient was named.
bool SenderRefused(const ProtocolTrace& trace) {
  return trace.Sent("MAIL") && !trace.Sent("RCPT") && !trace.ErrorReply().empty();
}

}  // namespace

MailEndpoint MailEndpointFor(const MailSettings& mail, const std::string& ehlo_name) {
  unsigned port = static_cast<uint16_t>(mail.port);
  MailEndpoint e;
  std::string scheme = "smtp://";
  switch (mail.tls_mode) {
    case 1:
      scheme = "smtps://";
      if (port == 25) port = 465;
      break;
    case 2:
    case 3:
      e.use_ssl = mail.tls_mode == 2 ? CURLUSESSL_ALL : CURLUSESSL_TRY;
      if (port == 465) port = 25;
      break;
    default:  // 0: no TLS; 4 to 255: no mode set, so none is used either
      break;
  }
  e.url = Concat({scheme, UrlHost(mail.server), port ? ":" : "", port ? std::to_string(port) : "",
                  "/", UrlEncode(ehlo_name)});
  // Without a port libcurl takes the scheme's own.
  const unsigned shown_port = port ? port : (mail.tls_mode == 1 ? 465 : 25);
  e.server = UrlHost(mail.server) + ":" + std::to_string(shown_port);
  return e;
}

void SendMailWithLimits(const Job& job, const MailSettings& mail, Query& query,
                        const TransferLimits& limits) {
  if (job.written_files.empty()) return;
  if (Trim(mail.server).empty())
    throw Exception(std::string(kConnectionError) + "no SMTP server is set in settings.ini");
  const std::vector<MailAddress> recipients = ParseAddressList(job.mail_to);
  const std::vector<std::string> headers = MessageHeaders(mail, recipients);

  // Everything the handle points to outlives it (declared first).
  CurlList rcpt, header_list;
  std::vector<std::unique_ptr<FileSource>> files;
  std::unique_ptr<TextSource> html_message;
  std::unique_ptr<CurlMime> mime;
  CurlEasy easy;
  easy.ApplyLimits(limits);
  const MailEndpoint endpoint = MailEndpointFor(mail, LocalHostName());
  easy.Set(CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  easy.Set(CURLOPT_URL, endpoint.url);
  easy.Set(CURLOPT_USE_SSL, long(endpoint.use_ssl));
  easy.Set(CURLOPT_MAIL_FROM, OneLine(mail.sender));
  for (const MailAddress& r : recipients) rcpt.Append(r.address);
  easy.Set(CURLOPT_MAIL_RCPT, rcpt.get());
  // Credentials only with a login, and only by AUTH LOGIN.
  if (!mail.login.empty()) {
    easy.Set(CURLOPT_USERNAME, mail.login);
    easy.Set(CURLOPT_PASSWORD, mail.password);
    easy.Set(CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
  }

  // The body: the attachments as a MIME structure, or one HTML page.
  if (job.report_template.empty()) {
    mime = std::make_unique<CurlMime>(easy);
    for (const std::string& path : job.written_files) {
      try {
        files.push_back(std::make_unique<FileSource>(path));
      } catch (const Error& e) {
        throw e.WithPrefix(kSendingError);
      }
      curl_mimepart* part = mime->AddPart();
      files.back()->AttachToPart(part);
      const std::string name = BaseName(path);
      CurlList part_headers;
      part_headers.Append(ContentDisposition(name));
      if (curl_mime_type(part, ContentTypeOf(name)) != CURLE_OK ||
          curl_mime_encoder(part, "base64") != CURLE_OK ||
          curl_mime_headers(part, part_headers.release(), 1) != CURLE_OK)
        throw Exception("Out of memory");
    }
    for (const std::string& h : headers) header_list.Append(h);
    easy.Set(CURLOPT_HTTPHEADER, header_list.get());
    easy.Set(CURLOPT_MIMEPOST, mime->get());
  } else {
    const std::string html = RenderReport(job.report_template, query, LocaleFormatSettings());
    std::string message;
    for (const std::string& h : headers) message += h + "\r\n";
    message += "MIME-Version: 1.0\r\n";
    message += std::string("Content-Type: ") + kReportContentType + "\r\n";
    message += "Content-Transfer-Encoding: base64\r\n\r\n";
    message += Base64(html, 76);
    html_message = std::make_unique<TextSource>(std::move(message));
    html_message->AttachAsUpload(easy);
    easy.Set(CURLOPT_UPLOAD, 1L);
    easy.Set(CURLOPT_INFILESIZE_LARGE, html_message->size());
  }

  CURLcode rc = easy.Perform();
  if (rc == CURLE_LOGIN_DENIED && !mail.login.empty() && !easy.trace().Sent("AUTH")) {
    // The server announces AUTH, but not LOGIN: go on without logging in.
    easy.Set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
    easy.Set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
    easy.Set(CURLOPT_LOGIN_OPTIONS, static_cast<const char*>(nullptr));
    if (html_message) UploadSource::SeekCallback(html_message.get(), 0, SEEK_SET);
    rc = easy.Perform();
  }
  if (rc == CURLE_OK) return;

  std::string message = easy.ErrorText(rc);
  std::string reply = easy.trace().ErrorReply();
  if (!reply.empty()) message += "; server reply: " + reply;
  // A refused MAIL FROM is about the sender, which only settings.ini can
  // change (the default one is no address at all).
  if (SenderRefused(easy.trace()))
    message = "the server refused the sender \"" + OneLine(mail.sender) +
              "\"; set Sender in settings.ini to a mail address the server accepts (" + message +
              ")";
  message = "mail server " + endpoint.server + ": " + message;
  for (const auto& f : files)
    if (!f->read_error().empty()) message = f->read_error();
  switch (FailurePhase(rc, easy)) {
    case Phase::kConnect:
      throw Error(kESMTPError, kConnectionError + message);
    case Phase::kAuthenticate:
      throw Error(kESMTPError, kAuthenticationError + message);
    case Phase::kSend:
      throw Error(kESMTPError, kSendingError + message);
  }
}

}  // namespace delivery

void MailFiles(const Job& job, const MailSettings& mail, Query& query, int timeout_seconds) {
  delivery::TransferLimits limits;  // 10 s to connect, 10 s for every reply
  limits.total_ms = delivery::TotalMs(timeout_seconds);
  limits.ca_file = delivery::CaFileFromEnvironment();
  delivery::SendMailWithLimits(job, mail, query, limits);
}

}  // namespace ostrevane
