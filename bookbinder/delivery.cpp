#include "delivery.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "device_copy.h"
#include "secret_store.h"
#include "settings.h"

namespace orvo {

DeliverySettings DeliverySettings::Read() {
  Settings settings = Settings::Shared();
  DeliverySettings s;
  s.copyToReader = settings.ReadInt(kDeliverySection, "CopyToReader", 0) == 1;
  s.readerFolder = settings.ReadText(kDeliverySection, "ReaderFolder", "", kPathBuffer);
  while (s.readerFolder.size() > 1 && s.readerFolder.back() == '/') s.readerFolder.pop_back();
  s.mailAfterRun = settings.ReadInt(kDeliverySection, "MailAfterRun", 0) == 1;
  s.mail.to = settings.ReadText(kDeliverySection, "MailTo", "");
  s.mail.from = settings.ReadText(kDeliverySection, "MailFrom", "");
  s.mail.server = settings.ReadText(kDeliverySection, "SmtpServer", "");
  s.mail.user = settings.ReadText(kDeliverySection, "SmtpUser", "");
  s.mail.limitMb = settings.ReadIntChecked(kDeliverySection, "MailLimitMB", 25);
  if (s.mail.limitMb < 1) s.mail.limitMb = 25;
  return s;
}

namespace {

std::string Megabytes(size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

}  // namespace

int MailVolumes(const std::vector<std::string>& volumes, const MailSettings& mail, const PasswordSource& password,
                const std::function<void(const std::string&)>& report) {
  if (!mail.configured()) {
    report("Not mailed: set MailTo, MailFrom and SmtpServer in section Delivery (orvo config Delivery MailTo ...)");
    return 0;
  }
  for (const std::string* address : {&mail.to, &mail.from})
    if (!PlainAddress(*address)) {
      report("Not mailed: \"" + *address + "\" is not one mail address; check MailTo and MailFrom");
      return 0;
    }
  std::string secret, error;
  if (!mail.user.empty()) {
    std::optional<std::string> found =
        password ? password(SmtpUrl(mail.server), mail.user, &error) : LookupMailPassword(SmtpUrl(mail.server), mail.user, &error);
    if (!found) {
      report("Not mailed: " + error);
      return 0;
    }
    secret = std::move(*found);
  }
  int mailed = 0;
  const size_t limit = static_cast<size_t>(mail.limitMb) * 1024 * 1024;
  for (const std::string& volume : volumes) {
    const std::string name = std::filesystem::path(volume).filename().string();
    std::ifstream in(volume, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    if (!in) {
      report("Can not mail " + name + ": it can not be read");
      continue;
    }
    const std::string message = MimeMessage(mail, name, bytes.str(), std::time(nullptr));
    if (message.size() > limit) {
      report("Not mailed: " + name + " makes a mail of " + Megabytes(message.size()) + ", over MailLimitMB (" +
             std::to_string(mail.limitMb) + " MB); lower MaxNewsPerLit for smaller volumes, or raise MailLimitMB if " +
             "your mail service takes larger mails");
      continue;
    }
    if (SendMail(mail, secret, message, &error)) {
      report("Mailed " + name + " to " + mail.to);
      ++mailed;
    } else {
      report("Can not mail " + name + " to " + mail.to + ": " + error);
    }
  }
  return mailed;
}

void DeliverVolumes(const std::vector<std::string>& volumes, const DeliverySettings& settings, bool always,
                    DeliveryTools& tools, const std::function<void(const std::string&)>& report) {
  if (volumes.empty()) return;
  if (settings.copyToReader || always) {
    if (!tools.drives) tools.drives = std::make_shared<UDisksDrives>();
    CopyToReaders(volumes, *tools.drives, settings.readerFolder, report);
  }
  // By hand, only where a device address is set; after runs, as switched on.
  if (settings.mailAfterRun || (always && !settings.mail.to.empty()))
    MailVolumes(volumes, settings.mail, tools.password, report);
}

}  // namespace orvo
