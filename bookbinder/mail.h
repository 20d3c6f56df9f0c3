// Mailing a volume to a device address (Send to Kindle and its kin take
// EPUB by mail): one MIME message per volume, sent over SMTP with libcurl.
#pragma once

#include <ctime>
#include <string>

#include "secret_store.h"  // SmtpUrl

namespace orvo {

struct MailSettings {
  std::string to;      // MailTo: the device address
  std::string from;    // MailFrom: an address the device service accepts
  std::string server;  // SmtpServer: smtps://host[:465], smtp://host[:587] (STARTTLS), or a host
  std::string user;    // SmtpUser: the login; empty: no login
  int limitMb = 25;    // MailLimitMB: largest mail, as sent (base64 makes it a third larger)
  bool configured() const { return !to.empty() && !from.empty() && !server.empty(); }
};

// An address that can stand in a header: one "@", no spaces, line breaks
// or angle brackets.
bool PlainAddress(const std::string& address);

// The whole message: From, To, Subject, Date, Message-ID, and a text part
// and the volume as a base64 attachment of its own type (EPUB, .lit).
std::string MimeMessage(const MailSettings& mail, const std::string& fileName, const std::string& bytes,
                        std::time_t now);

// Sends `message`. smtps:// is TLS from the start; smtp:// must switch to
// TLS with STARTTLS, except to this machine (a local relay). false with
// *error, whose text never holds the password.
bool SendMail(const MailSettings& mail, const std::string& password, const std::string& message,
              std::string* error);

}  // namespace orvo
