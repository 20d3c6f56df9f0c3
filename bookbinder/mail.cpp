#include "mail.h"

#include <QByteArray>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>

#include "http_setup.h"

namespace orvo {

namespace {

constexpr long kConnectTimeoutS = 30;
constexpr long kLowSpeedBytes = 100, kLowSpeedSeconds = 60;  // a stalled upload ends

std::string ContentType(const std::string& fileName) {
  std::string ext = std::filesystem::path(fileName).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".epub") return "application/epub+zip";
  if (ext == ".lit") return "application/x-ms-reader";
  return "application/octet-stream";
}

// RFC 5322's date, in English whatever the locale.
std::string MailDate(std::time_t t) {
  static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm tm{};
  localtime_r(&t, &tm);
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &tm);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d:%02d %s", days[tm.tm_wday], tm.tm_mday,
                months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, zone);
  return text;
}

std::string RandomHex(size_t bytes) {
  std::random_device rd;
  std::string out;
  char buf[3];
  for (size_t i = 0; i < bytes; ++i) {
    std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned>(rd() & 0xFF));
    out += buf;
  }
  return out;
}

std::string Base64Lines(const std::string& bytes) {
  const QByteArray encoded = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())).toBase64();
  std::string out;
  out.reserve(static_cast<size_t>(encoded.size()) + static_cast<size_t>(encoded.size()) / 76 * 2 + 2);
  for (qsizetype i = 0; i < encoded.size(); i += 76) {
    out.append(encoded.constData() + i, static_cast<size_t>(std::min<qsizetype>(76, encoded.size() - i)));
    out += "\r\n";
  }
  return out;
}

bool LoopbackHost(const std::string& url) {
  size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  std::string host = url.substr(start);
  host = host.substr(0, host.find('/'));
  if (!host.empty() && host.front() == '[') return host.rfind("[::1]", 0) == 0;
  host = host.substr(0, host.find(':'));
  return host == "localhost" || host.rfind("127.", 0) == 0;
}

struct Upload {
  const std::string* text;
  size_t at = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* user) {
  Upload* u = static_cast<Upload*>(user);
  size_t n = std::min(size * count, u->text->size() - u->at);
  std::memcpy(buffer, u->text->data() + u->at, n);
  u->at += n;
  return n;
}

}  // namespace

bool PlainAddress(const std::string& address) {
  const size_t at = address.find('@');
  return at != std::string::npos && at > 0 && at + 1 < address.size() && address.find('@', at + 1) == std::string::npos &&
         address.find_first_of(" \t\r\n<>,;\"") == std::string::npos;
}

std::string MimeMessage(const MailSettings& mail, const std::string& fileName, const std::string& bytes,
                        std::time_t now) {
  const std::string boundary = "=_orvo_" + RandomHex(12);
  const std::string domain = mail.from.substr(mail.from.find('@') + 1);
  std::string m;
  m.reserve(bytes.size() * 4 / 3 + bytes.size() / 38 + 1024);
  m += "From: " + mail.from + "\r\n";
  m += "To: " + mail.to + "\r\n";
  m += "Subject: ORVO news " + fileName + "\r\n";
  m += "Date: " + MailDate(now) + "\r\n";
  m += "Message-ID: <" + RandomHex(16) + "@" + domain + ">\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
  m += "--" + boundary + "\r\n";
  m += "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
  m += "The news volume " + fileName + ", made by ORVO.\r\n\r\n";
  m += "--" + boundary + "\r\n";
  m += "Content-Type: " + ContentType(fileName) + "; name=\"" + fileName + "\"\r\n";
  m += "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n";
  m += "Content-Transfer-Encoding: base64\r\n\r\n";
  m += Base64Lines(bytes);
  m += "--" + boundary + "--\r\n";
  return m;
}

bool SendMail(const MailSettings& mail, const std::string& password, const std::string& message,
              std::string* error) {
  HttpGlobalInit();
  CURL* curl = curl_easy_init();
  if (!curl) {
    *error = "libcurl could not start";
    return false;
  }
  char errorBuffer[CURL_ERROR_SIZE] = "";
  const std::string url = SmtpUrl(mail.server);
  const std::string from = "<" + mail.from + ">";
  curl_slist* recipients = curl_slist_append(nullptr, ("<" + mail.to + ">").c_str());
  Upload upload{&message};
  curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  // A password never crosses the network in the clear, unless to this machine.
  curl_easy_setopt(curl, CURLOPT_USE_SSL, LoopbackHost(url) ? CURLUSESSL_TRY : CURLUSESSL_ALL);
  if (!mail.user.empty()) {
    curl_easy_setopt(curl, CURLOPT_USERNAME, mail.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.c_str());
  }
  curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
  curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
  curl_easy_setopt(curl, CURLOPT_READFUNCTION, ReadUpload);
  curl_easy_setopt(curl, CURLOPT_READDATA, &upload);
  curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));
  curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
  curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytes);
  curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kLowSpeedSeconds);
  CURLcode rc = curl_easy_perform(curl);
  long response = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &response);
  curl_slist_free_all(recipients);
  curl_easy_cleanup(curl);
  if (rc == CURLE_OK) return true;
  *error = std::string(*errorBuffer ? errorBuffer : curl_easy_strerror(rc));
  if (response) *error += " (the server answered " + std::to_string(response) + ")";
  if (rc == CURLE_LOGIN_DENIED) *error += "; check SmtpUser and the password (orvo config --mail-password)";
  if (rc == CURLE_USE_SSL_FAILED) *error += "; the server offers no STARTTLS: use its smtps:// address";
  return false;
}

}  // namespace orvo
