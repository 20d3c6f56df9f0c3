// Mask health: what each site/category pair's masks yielded in each run, and
// whether a pair is healthy, broken (its masks stopped yielding where they
// once did) or never worked. Also the marks of news stored by automatic
// extraction, and the pair's run counters the run driver fills.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace orvo {

class Database;

enum class PairHealth { kHealthy = 0, kBroken = 1, kNeverWorked = 2 };

// Ways an item was found without its masks (table newsitem_auto).
enum class AutoMark { kBody = 1, kFeedLink = 2, kFeedLinkAndBody = 3 };

// One pair's figures for one run.
struct PairRun {
  int siteCatRel = 0;
  bool listLoaded = false;  // the list page arrived (not skipped for a failure)
  int linksFound = 0;       // by the list mask, before stored links are dropped
  int feedLinks = 0;        // taken from a feed instead
  int pagesWalked = 0;      // news pages that arrived and were walked
  int emptyBodies = 0;      // of which the news mask left the body empty
  int emptyTitles = 0;
  int itemsStored = 0;
  int autoItems = 0;        // of which stored through automatic extraction
  bool newsMaskEmpty = false;
  std::string feedProblem;  // an own pair's feed: why it gave no entry
};

struct HealthVerdict {
  PairHealth state = PairHealth::kHealthy;
  std::string symptom;      // empty when healthy
  std::string brokenSince;  // database time, for broken pairs
  bool known = false;       // false when this run could judge nothing and nothing was known before
};

// Judges run against the pair's earlier runs and records it. A run that could
// judge nothing (its list page never arrived) keeps the earlier verdict.
HealthVerdict RecordPairRun(Database& db, const PairRun& run, std::time_t now);

// The latest verdict of a pair; known == false when it was never judged.
HealthVerdict LatestHealth(Database& db, int siteCatRel);

// A judged pair's latest verdict, with the names and ids it is shown under.
struct PairVerdict {
  int siteCatRel = 0;
  int64_t siteId = 0;
  int64_t categoryId = 0;
  std::string site;
  std::string category;
  HealthVerdict verdict;
};

// The latest verdict of every judged pair, by site and category name (byte
// order); none for a database from before mask health was recorded. Returns
// 0 or the database's code.
int LatestVerdicts(Database& db, std::vector<PairVerdict>* verdicts);

// "Site / Category" of a pair, for messages.
std::string PairName(Database& db, int siteCatRel);

// Marks an item as found by automatic extraction or through a feed.
int MarkAutoItem(Database& db, int64_t newsId, AutoMark how);

// The log line and status text of a broken pair.
std::string BrokenPairText(const std::string& pairName, const HealthVerdict& verdict);

}  // namespace orvo
