#include "cleanup.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "eventlog.h"
#include "settings.h"
#include "text.h"

namespace orvo {

namespace fs = std::filesystem;

namespace {

// .lit volumes, and the .epub volumes written beside them.
bool IsVolumeName(const std::string& name) {
  auto endsWith = [&name](std::string_view ext) {
    return name.size() > ext.size() && EqualsNoCase(std::string_view(name).substr(name.size() - ext.size()), ext);
  };
  return endsWith(".lit") || endsWith(".epub");
}

}  // namespace

int DeleteVolumesNotOf(const std::string& outputDir, const std::string& baseName) {
  std::error_code ec;
  fs::directory_iterator it(outputDir, ec), end;
  if (ec) return 0;  // no folder: nothing to clean
  // Collect first: removing entries while the listing is open may skip some.
  std::vector<fs::path> doomed;
  for (; it != end; it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    if (IsVolumeName(name) && name.find(baseName) == std::string::npos) doomed.push_back(it->path());
  }
  int deleted = 0;
  for (const fs::path& path : doomed) {
    // unlink, not remove: a folder that happens to end in .lit is not ours.
    if (::unlink(path.c_str()) == 0)
      ++deleted;
    else
      WriteEventLog("Can not delete lit File: " + path.string());
  }
  return deleted;
}

int DeleteOldVolumes(const std::string& outputDir, const std::string& baseName) {
  if (Settings::Shared().ReadInt(kCleanupSection, "DeleteLit", 0) == 0) return 0;
  return DeleteVolumesNotOf(outputDir, baseName);
}

}  // namespace orvo
