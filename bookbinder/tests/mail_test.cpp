// Mailing volumes to a device address, against an SMTP server on 127.0.0.1
// written here: plain SMTP with AUTH PLAIN and LOGIN, which records what it
// was sent, so the test decodes the attachment the device would get.
#include "mail.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "delivery.h"
#include "eventlog.h"
#include "news_fixture.h"
#include "settings.h"
#include "test_support.h"

namespace orvo {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::WriteFile;

struct ReceivedMail {
  std::string login, password, from;
  std::vector<std::string> to;
  std::string data;  // dot-unstuffed, without the final "."
};

class SmtpFixture {
 public:
  // `mechanism`: the AUTH mechanism it offers, "PLAIN" or "LOGIN".
  explicit SmtpFixture(std::string mechanism, std::string password = "s3cret")
      : mechanism_(std::move(mechanism)), password_(std::move(password)) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~SmtpFixture() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    ::close(listener_);
  }
  std::string url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
  std::vector<ReceivedMail> mails() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mails_;
  }

 private:
  // Waits for a line (or the stop); false when the client went away.
  bool ReadLine(int fd, std::string* buffer, std::string* line) {
    for (;;) {
      size_t end = buffer->find("\r\n");
      if (end != std::string::npos) {
        *line = buffer->substr(0, end);
        buffer->erase(0, end + 2);
        return true;
      }
      pollfd p{fd, POLLIN, 0};
      int ready = ::poll(&p, 1, 100);
      if (stop_) return false;
      if (ready <= 0) continue;
      char chunk[65536];
      ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n <= 0) return false;
      buffer->append(chunk, static_cast<size_t>(n));
    }
  }
  static void Say(int fd, const std::string& text) {
    std::string line = text + "\r\n";
    (void)!::write(fd, line.data(), line.size());
  }
  static std::string Decode(const std::string& b64) { return QByteArray::fromBase64(QByteArray::fromStdString(b64)).toStdString(); }

  void Serve() {
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      Session(fd);
      ::close(fd);
    }
  }

  void Session(int fd) {
    std::string buffer, line;
    ReceivedMail mail;
    bool authed = false;
    Say(fd, "220 fixture ESMTP");
    while (ReadLine(fd, &buffer, &line)) {
      const std::string verb = line.substr(0, 4);
      if (verb == "EHLO") {
        Say(fd, "250-fixture");
        Say(fd, "250-AUTH " + mechanism_);
        Say(fd, "250 8BITMIME");
      } else if (line.rfind("AUTH PLAIN", 0) == 0 && mechanism_ == "PLAIN") {
        std::string arg = line.size() > 11 ? line.substr(11) : "";
        if (arg.empty()) {
          Say(fd, "334 ");
          if (!ReadLine(fd, &buffer, &arg)) return;
        }
        std::string plain = Decode(arg);  // authzid \0 login \0 password
        size_t a = plain.find('\0'), b = plain.find('\0', a + 1);
        mail.login = plain.substr(a + 1, b - a - 1);
        mail.password = plain.substr(b + 1);
        authed = mail.password == password_;
        Say(fd, authed ? "235 2.7.0 accepted" : "535 5.7.8 bad credentials");
      } else if (line.rfind("AUTH LOGIN", 0) == 0 && mechanism_ == "LOGIN") {
        std::string user = line.size() > 11 ? Decode(line.substr(11)) : "", pass;
        if (user.empty()) {
          Say(fd, "334 VXNlcm5hbWU6");
          if (!ReadLine(fd, &buffer, &user)) return;
          user = Decode(user);
        }
        Say(fd, "334 UGFzc3dvcmQ6");
        if (!ReadLine(fd, &buffer, &pass)) return;
        mail.login = user;
        mail.password = Decode(pass);
        authed = mail.password == password_;
        Say(fd, authed ? "235 2.7.0 accepted" : "535 5.7.8 bad credentials");
      } else if (line.rfind("MAIL FROM:", 0) == 0) {
        if (!authed) {
          Say(fd, "530 5.7.0 authentication required");
          continue;
        }
        mail.from = line.substr(10, line.find('>') - 9);
        Say(fd, "250 ok");
      } else if (line.rfind("RCPT TO:", 0) == 0) {
        mail.to.push_back(line.substr(8));
        Say(fd, "250 ok");
      } else if (verb == "DATA") {
        Say(fd, "354 go on");
        std::string data;
        while (ReadLine(fd, &buffer, &line) && line != ".") data += (line.rfind("..", 0) == 0 ? line.substr(1) : line) + "\r\n";
        mail.data = data;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          mails_.push_back(mail);
        }
        Say(fd, "250 queued");
      } else if (verb == "QUIT") {
        Say(fd, "221 bye");
        return;
      } else {
        Say(fd, "502 not here");
      }
    }
  }

  std::string mechanism_, password_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<ReceivedMail> mails_;
};

// The value of a header in one block of headers.
std::string Header(const std::string& block, const std::string& name) {
  size_t at = block.find("\r\n" + name + ": ");
  if (block.rfind(name + ": ", 0) == 0) at = 0;
  else if (at == std::string::npos) return {};
  else at += 2;
  at += name.size() + 2;
  return block.substr(at, block.find("\r\n", at) - at);
}

// The attachment of a multipart/mixed message: its headers and decoded bytes.
std::pair<std::string, std::string> Attachment(const std::string& message) {
  std::string type = Header(message, "Content-Type");
  size_t b = type.find("boundary=\"");
  if (b == std::string::npos) return {};
  std::string boundary = "--" + type.substr(b + 10, type.find('"', b + 10) - b - 10);
  for (size_t at = message.find(boundary); at != std::string::npos; at = message.find(boundary, at + 1)) {
    size_t head = at + boundary.size() + 2, body = message.find("\r\n\r\n", head);
    if (body == std::string::npos) break;
    std::string headers = message.substr(head, body - head);
    if (headers.find("Content-Disposition: attachment") == std::string::npos) continue;
    size_t end = message.find(boundary, body);
    return {headers, QByteArray::fromBase64(QByteArray::fromStdString(message.substr(body + 4, end - body - 4)))
                         .toStdString()};
  }
  return {};
}

struct MailTest : ::testing::Test {
  testing::TempDir dir;
  std::vector<std::string> lines;
  std::function<void(const std::string&)> keep = [this](const std::string& l) { lines.push_back(l); };
  PasswordSource password = [](const std::string&, const std::string&, std::string*) {
    return std::optional<std::string>("s3cret");
  };
  MailSettings Settings(const std::string& url) {
    MailSettings m;
    m.to = "reader_42@kindle.example";
    m.from = "me@example.org";
    m.server = url;
    m.user = "me@example.org";
    return m;
  }
};

// Each volume in a mail of its own, through either login, with the bytes a
// device decodes equal to the file, the type its kind has, and the headers
// a mail service wants; a volume over the limit is left out with a line
// that says what to do.
TEST_F(MailTest, EachVolumeArrivesWholeInAMailOfItsOwn) {
  std::string epubBytes;
  for (int i = 0; i < 70000; ++i) epubBytes += static_cast<char>((i * 7919) % 256);  // every byte value
  epubBytes += "\r\n.\r\n..";  // what SMTP's end of data would break
  const std::string epub = dir.File("news.202612092100.05_0.epub"), lit = dir.File("news.202612092100.05_0.lit");
  WriteFile(epub, epubBytes);
  WriteFile(lit, "lit bytes");
  const std::string big = dir.File("news.202612092100.05_1.epub");
  WriteFile(big, std::string(1024 * 1024, 'x'));

  for (const char* mechanism : {"PLAIN", "LOGIN"}) {
    SCOPED_TRACE(mechanism);
    SmtpFixture server(mechanism);
    lines.clear();
    MailSettings mail = Settings(server.url());
    mail.limitMb = 1;  // the 1 MiB volume makes a mail of 1.4 MiB
    EXPECT_EQ(MailVolumes({epub, lit, big}, mail, password, keep), 2);
    std::vector<ReceivedMail> got = server.mails();
    ASSERT_EQ(got.size(), 2u) << ::testing::PrintToString(lines);
    const std::pair<const char*, const std::string*> expected[] = {{"application/epub+zip", &epubBytes}, {"application/x-ms-reader", nullptr}};
    for (size_t i = 0; i < 2; ++i) {
      EXPECT_EQ(got[i].login, "me@example.org");
      EXPECT_EQ(got[i].to, std::vector<std::string>{"<reader_42@kindle.example>"});
      auto [headers, bytes] = Attachment(got[i].data);
      EXPECT_EQ(Header(headers, "Content-Type").rfind(expected[i].first, 0), 0u) << headers;
      EXPECT_EQ(bytes, expected[i].second ? *expected[i].second : "lit bytes");
      EXPECT_EQ(Header(got[i].data, "To"), "reader_42@kindle.example");
      EXPECT_NE(Header(got[i].data, "Subject").find(i == 0 ? fs::path(epub).filename().string() : fs::path(lit).filename().string()), std::string::npos);
      EXPECT_NE(Header(got[i].data, "Date").find(", "), std::string::npos);
      EXPECT_NE(Header(got[i].data, "Message-ID").find("@example.org>"), std::string::npos);
    }
    EXPECT_NE(Header(got[0].data, "Message-ID"), Header(got[1].data, "Message-ID"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Mailed news.202612092100.05_0.epub to reader_42@kindle.example");
    EXPECT_NE(lines[2].find("Not mailed: news.202612092100.05_1.epub makes a mail of 1.4 MB, over MailLimitMB (1 MB); "
                            "lower MaxNewsPerLit"),
              std::string::npos)
        << lines[2];
  }
}

// What stops a mail is said, with what to do; a refused password and a dead
// server end each volume's attempt, nothing hangs and no password shows.
TEST_F(MailTest, FailuresAreSaidWithWhatToDo) {
  const std::string epub = dir.File("news.x_0.epub");
  WriteFile(epub, "bytes");
  SmtpFixture server("PLAIN", "another");
  MailSettings mail = Settings(server.url());
  EXPECT_EQ(MailVolumes({epub}, mail, password, keep), 0);
  MailSettings dead = Settings("smtp://127.0.0.1:1");
  EXPECT_EQ(MailVolumes({epub}, dead, password, keep), 0);
  MailSettings bad = Settings(server.url());
  bad.to = "a@b.example\r\nBcc: c@d.example";
  EXPECT_EQ(MailVolumes({epub}, bad, password, keep), 0);
  MailSettings partial;
  partial.to = "x@y.example";
  EXPECT_EQ(MailVolumes({epub}, partial, password, keep), 0);
  PasswordSource none = [](const std::string&, const std::string&, std::string* e) {
    *e = "no Secret Service answers (test)";
    return std::optional<std::string>();
  };
  EXPECT_EQ(MailVolumes({epub}, Settings(server.url()), none, keep), 0);
  ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
  EXPECT_NE(lines[0].find("Can not mail news.x_0.epub to reader_42@kindle.example: "), std::string::npos);
  EXPECT_NE(lines[0].find("check SmtpUser and the password (orvo config --mail-password)"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("Can not mail news.x_0.epub"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("is not one mail address"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("set MailTo, MailFrom and SmtpServer"), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4], "Not mailed: no Secret Service answers (test)");
  for (const std::string& l : lines) EXPECT_EQ(l.find("s3cret"), std::string::npos) << l;
  EXPECT_TRUE(server.mails().empty());
}

// STARTTLS is demanded of any server but this machine; a host alone is
// smtps://.
TEST(MailUrl, TlsUnlessLocal) {
  EXPECT_EQ(SmtpUrl("smtp.example.org"), "smtps://smtp.example.org");
  EXPECT_EQ(SmtpUrl("smtp://smtp.example.org:587"), "smtp://smtp.example.org:587");
  EXPECT_TRUE(PlainAddress("reader_42@kindle.example"));
  for (const char* bad : {"", "a", "a@", "@b", "a@b@c", "a b@c", "a@b>", "<a@b>", "a@b\n"}) EXPECT_FALSE(PlainAddress(bad)) << bad;
}

}  // namespace
}  // namespace orvo
