// Delivery of a run's volumes to the reader's device: copied to a connected
// e-reader and mailed to a device address. Settings in [Delivery].
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mail.h"
#include "removable_drives.h"

namespace orvo {

struct DeliverySettings {
  bool copyToReader = false;  // CopyToReader: after every successful run
  std::string readerFolder;   // ReaderFolder: the folder picked on a drive of another kind
  bool mailAfterRun = false;  // MailAfterRun: after every successful run
  MailSettings mail;
  static DeliverySettings Read();
};

// The password of a mail login, or nullopt with *error.
using PasswordSource =
    std::function<std::optional<std::string>(const std::string& server, const std::string& user, std::string* error)>;

// What delivers: the drives to look at (UDisks2 unless a test gives a
// folder) and where the mail password comes from (the Secret Service).
struct DeliveryTools {
  std::shared_ptr<DriveFinder> drives;
  PasswordSource password;
};

// Mails each volume to the device address, one per mail; a volume whose
// mail would pass the limit is left out. Returns the number mailed.
int MailVolumes(const std::vector<std::string>& volumes, const MailSettings& mail, const PasswordSource& password,
                const std::function<void(const std::string&)>& report);

// Delivers `volumes` as the settings ask; `always` (orvo generate --send)
// delivers whatever the after-run switches say. Every step goes to `report`.
void DeliverVolumes(const std::vector<std::string>& volumes, const DeliverySettings& settings, bool always,
                    DeliveryTools& tools, const std::function<void(const std::string&)>& report);

}  // namespace orvo
