// Delivery of a run's volumes to the reader's device: copied to a connected
// e-reader and, later, mailed to a device address. Settings in [Delivery].
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "removable_drives.h"

namespace orvo {

inline constexpr const char* kDeliverySection = "Delivery";

struct DeliverySettings {
  bool copyToReader = false;  // CopyToReader: after every successful run
  std::string readerFolder;   // ReaderFolder: the folder picked on a drive of another kind
  static DeliverySettings Read();
};

// What delivers: the drives to look at (UDisks2 unless a test gives a folder).
struct DeliveryTools {
  std::shared_ptr<DriveFinder> drives;
};

// Delivers `volumes` as the settings ask; `always` (orvo generate --send)
// delivers whatever the after-run switches say. Every step goes to `report`.
void DeliverVolumes(const std::vector<std::string>& volumes, const DeliverySettings& settings, bool always,
                    DeliveryTools& tools, const std::function<void(const std::string&)>& report);

}  // namespace orvo
