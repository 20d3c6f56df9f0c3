// Mounted removable drives, as UDisks2 tells them on the system bus: the one
// platform piece of copying eBooks to a connected e-reader. What a drive is
// and what goes onto it is decided elsewhere, from its folders.
#pragma once

#include <QDBusConnection>

#include <string>
#include <vector>

namespace orvo {

struct MountedDrive {
  std::string mountPoint;  // no trailing "/"
  std::string label;       // the file system's label, may be empty
};

class DriveFinder {
 public:
  virtual ~DriveFinder() = default;
  // The drives mounted now; on failure an empty list and *error says why.
  virtual std::vector<MountedDrive> MountedRemovableDrives(std::string* error) = 0;
};

// UDisks2's objects: a mounted file system on a drive that is removable,
// ejectable or on USB, and not one UDisks marks as the system's.
class UDisksDrives : public DriveFinder {
 public:
  explicit UDisksDrives(QDBusConnection bus = QDBusConnection::systemBus()) : bus_(std::move(bus)) {}
  std::vector<MountedDrive> MountedRemovableDrives(std::string* error) override;

 private:
  QDBusConnection bus_;
};

}  // namespace orvo
