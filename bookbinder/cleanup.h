// Removal of the eBooks of earlier runs from the output folder, when the
// user asked for it (DeleteLit in section Cleanup).
#pragma once

#include <string>

namespace orvo {

// When DeleteLit is not 0: deletes every "*.lit" and "*.epub" file in `outputDir` whose
// name does not contain `baseName`. A file that cannot be deleted is logged
// ("Can not delete lit File: %s") and stays. Returns the number deleted.
int DeleteOldVolumes(const std::string& outputDir, const std::string& baseName);

// The same without reading the setting.
int DeleteVolumesNotOf(const std::string& outputDir, const std::string& baseName);

}  // namespace orvo
