// The reader's database manager and the one lock held around every call into
// it, from the user-interface thread and from the loader threads alike.
#pragma once

#include <mutex>

#include "vaultmap/dbmanager.h"

namespace orvo {

struct Vault {
  CDBManager db;
  std::recursive_mutex lock;
};

using VaultLock = std::lock_guard<std::recursive_mutex>;

// The reader's keys in the main section of ORVO.ini.
namespace keys {
inline constexpr const char* kLeftPos = "LeftPos";
inline constexpr const char* kRightPos = "RightPos";
inline constexpr const char* kTopPos = "TopPos";
inline constexpr const char* kBottomPos = "BottomPos";
inline constexpr const char* kListHeight = "LHeight";
inline constexpr const char* kLastFilter = "LastFilter";
inline constexpr const char* kShowRead = "ShowRead";
inline constexpr const char* kStartTip = "StartTip";
inline constexpr const char* kTipNum = "TipNum";
inline constexpr const char* kMarkReadTime = "MarkReadTime";
inline constexpr const char* kSortColumn = "SortColumn";
inline constexpr const char* kSortOrder = "SortOrder";
inline constexpr const char* kTextSize = "TextSize";  // 0 smallest .. 4 largest
}  // namespace keys

}  // namespace orvo
