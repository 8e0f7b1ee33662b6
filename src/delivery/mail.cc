#include "delivery/mail.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

#include "common/error.h"
#include "common/format_settings.h"
#include "common/guid.h"
#include "common/path.h"
#include "common/text.h"
#include "data/dataset.h"
#include "delivery/delivery.h"
#include "delivery/file_type.h"
#include "delivery/mail_address.h"
#include "delivery/mime_message.h"
#include "delivery/mime_text.h"
#include "delivery/report.h"
#include "writers/value_text.h"

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

// The headers of one attachment: what the file is, with an ASCII stand-in
// for its name (readers that know no RFC 2231 show that one), and its name
// for saving, in the RFC 2231 form where it is not plain ASCII. A mail
// reader that finds both forms of "filename" in one header takes it as a
// duplicate parameter, so the stand-in goes into Content-Type as "name".
std::vector<std::string> AttachmentHeaders(const Job& job, const std::string& path) {
  const std::string name = BaseName(path);
  std::vector<std::string> type = WrittenFileTypeWords(job, path);
  std::vector<std::string> disposition = {"attachment"};
  for (const std::string& p : MimeParameter("name", AsciiFileName(name))) type.push_back(p);
  for (const std::string& p : MimeParameter("filename", name)) disposition.push_back(p);
  auto with_semicolons = [](std::vector<std::string> words) {
    for (size_t i = 0; i + 1 < words.size(); ++i) words[i] += ';';
    return words;
  };
  return {FoldedHeader("Content-Type", with_semicolons(type)),
          FoldedHeader("Content-Disposition", with_semicolons(disposition))};
}

// The headers of the text of -mailbody: HTML when it starts with "<"
// (after blanks), plain text otherwise.
std::vector<std::string> BodyHeaders(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  const bool html = first != std::string_view::npos && text[first] == '<';
  return {std::string("Content-Type: ") + (html ? "text/html" : "text/plain") + "; charset=UTF-8"};
}

// The header lines every message carries, in this order.
std::vector<std::string> MessageHeaders(const MailSettings& mail,
                                        const std::vector<MailAddress>& recipients) {
  std::vector<std::string> to;
  for (size_t i = 0; i < recipients.size(); ++i) {
    MailAddress a = recipients[i];
    a.address = AsciiAddress(a.address);
    for (const std::string& word : AddressWords(a)) to.push_back(word);
    if (i + 1 < recipients.size()) to.back() += ',';
  }
  const std::string sender = AsciiAddress(OneLine(mail.sender));
  const size_t at = sender.find('@');
  std::string domain = at == std::string::npos ? LocalHostName() : sender.substr(at + 1);
  return {"Date: " + MailDate(std::time(nullptr)),
          FoldedHeader("From", {sender}),
          FoldedHeader("To", to),
          UnstructuredHeader("Subject", mail.subject),
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

// What to do about a server that wants a login before it takes mail.
std::string MissingLoginAdvice(const MailSettings& mail, const ProtocolTrace& trace) {
  const std::string advice = "the server requires authentication before it takes mail; ";
  if (mail.login.empty())
    return advice + "set Login in section Mail of settings.ini and the password with -setmailpwd";
  if (!trace.Sent("AUTH"))
    return advice + "it does not offer AUTH LOGIN, the only login method used" +
           (trace.auth_mechanisms().empty() ? std::string()
                                            : " (it offers " + trace.auth_mechanisms() + ")");
  return advice + "it did not take the login of \"" + OneLine(mail.login) + "\"";
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
                        const FormatSettings& formats, const TransferLimits& limits) {
  if (job.written_files.empty()) return;
  if (Trim(mail.server).empty())
    throw Exception(std::string(kConnectionError) + "no SMTP server is set in settings.ini");
  const std::vector<MailAddress> recipients = ParseAddressList(job.mail_to);
  const std::vector<std::string> headers = MessageHeaders(mail, recipients);

  // Everything the handle points to outlives it (declared first).
  CurlList rcpt;
  std::unique_ptr<UploadSource> message;
  CurlEasy easy;
  easy.ApplyLimits(limits);
  const MailEndpoint endpoint = MailEndpointFor(mail, LocalHostName());
  easy.Set(CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  easy.Set(CURLOPT_URL, endpoint.url);
  easy.Set(CURLOPT_USE_SSL, long(endpoint.use_ssl));
  easy.Set(CURLOPT_MAIL_FROM, AsciiAddress(OneLine(mail.sender)));
  for (const MailAddress& r : recipients) rcpt.Append(AsciiAddress(r.address));
  easy.Set(CURLOPT_MAIL_RCPT, rcpt.get());
  // Credentials only with a login, and only by AUTH LOGIN.
  if (!mail.login.empty()) {
    easy.Set(CURLOPT_USERNAME, mail.login);
    easy.Set(CURLOPT_PASSWORD, mail.password);
    easy.Set(CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
  }

  // The message: the attachments as a MIME structure (after the text of
  // -mailbody), or one HTML page.
  if (job.report_template.empty()) {
    auto mime = std::make_unique<MimeMessage>(headers);
    if (!job.mail_body_file.empty()) mime->AddText(BodyHeaders(job.mail_body), job.mail_body);
    for (const std::string& path : job.written_files) {
      try {
        mime->AddFile(AttachmentHeaders(job, path), std::make_unique<FileSource>(job, path));
      } catch (const Error& e) {
        throw e.WithPrefix(kSendingError);
      }
    }
    mime->Finish();
    message = std::move(mime);
  } else {
    ReportLimits report_limits;
    report_limits.max_records = std::max(0, mail.report_max_records);
    const std::string html = RenderReport(job.report_template, query, formats, report_limits);
    std::string text;
    for (const std::string& h : headers) text += h + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    text += std::string("Content-Type: ") + kReportContentType + "\r\n";
    text += "Content-Transfer-Encoding: base64\r\n\r\n";
    text += Base64(html, 76);
    message = std::make_unique<TextSource>(std::move(text));
  }
  message->AttachAsUpload(easy);
  easy.Set(CURLOPT_UPLOAD, 1L);
  easy.Set(CURLOPT_INFILESIZE_LARGE, message->size());

  CURLcode rc = easy.Perform();
  if (rc == CURLE_LOGIN_DENIED && !mail.login.empty() && !easy.trace().Sent("AUTH")) {
    // The server announces AUTH, but not LOGIN: go on without logging in.
    easy.Set(CURLOPT_USERNAME, static_cast<const char*>(nullptr));
    easy.Set(CURLOPT_PASSWORD, static_cast<const char*>(nullptr));
    easy.Set(CURLOPT_LOGIN_OPTIONS, static_cast<const char*>(nullptr));
    UploadSource::SeekCallback(message.get(), 0, SEEK_SET);
    rc = easy.Perform();
  }
  if (rc == CURLE_OK) return;

  std::string error = easy.ErrorText(rc);
  std::string reply = easy.trace().ErrorReply();
  if (!reply.empty()) error += "; server reply: " + reply;
  Phase phase = FailurePhase(rc, easy);
  // The reply code says what to change where the server gives one: a login
  // (530, to MAIL or RCPT), a smaller message (552, to MAIL with the size
  // announced, or after the message), else, when MAIL FROM was refused, the
  // sender, which only settings.ini can change (the default one is no
  // address at all).
  if (reply.rfind("530", 0) == 0) {
    phase = Phase::kAuthenticate;
    error = MissingLoginAdvice(mail, easy.trace()) + " (" + error + ")";
  } else if (reply.rfind("552", 0) == 0) {
    error = "the server refused the message as too large (it is " +
            std::to_string(message->size()) + " bytes; " + error + ")";
  } else if (SenderRefused(easy.trace())) {
    error = "the server refused the sender \"" + OneLine(mail.sender) +
            "\"; set Sender in settings.ini to a mail address the server accepts (" + error +
            ")";
  }
  error = "mail server " + endpoint.server + ": " + error;
  if (!message->read_error().empty()) error = message->read_error();
  // A 4xx reply ("421 too busy", "451 try later") or a broken connection
  // may go through later; a 5xx reply or a refused login will not.
  const bool transient = !easy.deadline_expired() &&
                         (reply.empty() ? TransientTransferFailure(rc, easy) : TransientReply(reply));
  switch (phase) {
    case Phase::kConnect:
      throw DeliveryError(Error(kESMTPError, kConnectionError + error), transient);
    case Phase::kAuthenticate:
      throw DeliveryError(Error(kESMTPError, kAuthenticationError + error),
                          transient && rc != CURLE_LOGIN_DENIED);
    case Phase::kSend:
      throw DeliveryError(Error(kESMTPError, kSendingError + error), transient);
  }
}

void SendMailWithRetries(const Job& job, const MailSettings& mail, Query& query,
                         const FormatSettings& formats, const TransferLimits& limits,
                         const RetryPolicy& policy) {
  RetryTransfer("MAIL", limits, policy, [&](const TransferLimits& attempt) {
    SendMailWithLimits(job, mail, query, formats, attempt);
  });
}

}  // namespace delivery

std::string MailSubject(const Job& job, const Query& query, const FormatSettings& formats,
                        const std::string& settings_subject) {
  if (job.mail_subject.empty()) return settings_subject;
  const std::string text =
      ReplaceAllIgnoreCase(job.mail_subject, "?LINE", std::to_string(job.list_line_number));
  return CutForMessage(ExpandNameTemplate(job.id, text, query.Eof() ? nullptr : &query,
                                          job.timestamp, formats, job.date_pattern,
                                          job.time_pattern, " "));
}

void MailFiles(const Job& job, const MailSettings& mail, Query& query,
               const FormatSettings& formats, const DeliveryPolicy& policy) {
  delivery::TransferLimits limits;  // 10 s to connect, 10 s for every reply
  limits.total_ms = delivery::TotalMs(policy.timeout_seconds);
  limits.ca_file = delivery::CaFileFromEnvironment();
  delivery::SendMailWithRetries(job, mail, query, formats, limits, policy.retry);
}

}  // namespace ostrevane
