// Copying a run's volumes to the e-readers connected now. Which mounted
// drive is which reader is read from its folders, so tests lay out folders
// as each device does.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "removable_drives.h"

namespace orvo {

enum class ReaderKind { kKobo, kKindle, kPocketBook, kPicked };

struct ReaderTarget {
  ReaderKind kind = ReaderKind::kPicked;
  std::string name;     // "the Kobo at /media/u/KOBOeReader", for the log
  std::string folder;   // where the volumes go, ends in "/"; empty: none go (a Kindle)
  bool readsLit = false;
};

// What a mounted drive is. The folder the user picked (ReaderFolder) wins
// when it lies on the drive; else a Kindle's documents/ (it also has a
// system/), a Kobo's .kobo/, a PocketBook's system/; nullopt for any other.
std::optional<ReaderTarget> IdentifyReader(const MountedDrive& drive, const std::string& pickedFolder);

// Copies `source` into `folder` (made when missing) under a hidden temporary
// name, flushed to the drive, then renamed: a drive pulled mid-copy leaves
// no half volume a reader would list. false with *error on failure.
bool CopyIntoFolder(const std::string& source, const std::string& folder, std::string* error);

// Every volume to every reader found; one line through `report` for each
// copy, each volume left out and each drive error. Returns the number of
// files copied.
int CopyToReaders(const std::vector<std::string>& volumes, DriveFinder& drives, const std::string& pickedFolder,
                  const std::function<void(const std::string&)>& report);

}  // namespace orvo
