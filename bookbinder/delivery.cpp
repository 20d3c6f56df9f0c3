#include "delivery.h"

#include "device_copy.h"
#include "settings.h"

namespace orvo {

DeliverySettings DeliverySettings::Read() {
  Settings settings = Settings::Shared();
  DeliverySettings s;
  s.copyToReader = settings.ReadInt(kDeliverySection, "CopyToReader", 0) == 1;
  s.readerFolder = settings.ReadText(kDeliverySection, "ReaderFolder", "", kPathBuffer);
  while (s.readerFolder.size() > 1 && s.readerFolder.back() == '/') s.readerFolder.pop_back();
  return s;
}

void DeliverVolumes(const std::vector<std::string>& volumes, const DeliverySettings& settings, bool always,
                    DeliveryTools& tools, const std::function<void(const std::string&)>& report) {
  if (volumes.empty()) return;
  if (settings.copyToReader || always) {
    if (!tools.drives) tools.drives = std::make_shared<UDisksDrives>();
    CopyToReaders(volumes, *tools.drives, settings.readerFolder, report);
  }
}

}  // namespace orvo
