// Keeping the database small: outdated news (with their image files) at the
// start of a run, and catalogue rows that serve nothing after an update.
#pragma once

#include <ctime>
#include <functional>
#include <string>

namespace orvo {

class Settings;

using StatusSink = std::function<void(const std::string&)>;

// The age of the Cleanup section: Month * 30.5 + Day days (fraction dropped),
// Hour hours and Minute minutes. The cut-off is now minus that age on the
// local calendar, seconds set to 00, as database text.
std::string CleanupCutoff(std::time_t now, int month, int day, int hour, int minute);

// Deletes the items published before the cut-off and their image files when
// DeleteOlder is set. Reports "The old news checking and removing..." first.
void DeleteOldNews(const Settings& settings, const StatusSink& status, std::time_t now);

// Deletes pairs whose masks were withdrawn and that hold no live news, then
// the categories and sites no pair refers to.
void DeleteOrphanCatalogue(const StatusSink& status);

}  // namespace orvo
