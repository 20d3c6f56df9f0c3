// The plan of a gathering run: the selected sites, their categories and the
// list and news-page masks of each, walked by a cursor one mask at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "store/masks.h"

namespace orvo {

class Database;

struct PlanCategory {
  std::string name;
  int listMaskId = 0;
  int newsMaskId = 0;
  // An own pair: no masks; its feed gives the links.
  int64_t ownPair = 0;
  std::string feedUrl, etag, lastModified;
};

struct PlanSite {
  std::string name;
  std::vector<PlanCategory> categories;
};

class MaskPlan {
 public:
  // Groups rows (already in mask id order) into sites and categories: a run of
  // rows with the same site forms a site, within it a run with the same
  // category a category; only categories with both masks are kept. A live
  // mask replaces a withdrawn one of the same kind, never the other way round.
  void Build(const std::vector<PlanRow>& rows);
  void Clear() { sites_.clear(); Rewind(); }
  // Appends own pairs, after the catalogue's: consecutive pairs of one site
  // name form one site.
  void AddOwn(const std::vector<PlanCategory>& own, const std::vector<std::string>& siteNames);
  bool HasOwn() const;
  // Keeps only the own pairs.
  void KeepOwnOnly();

  // The next mask id (list, then news, then the next category), or -1 when
  // the plan is exhausted.
  int NextMaskId();
  // Makes the next NextMaskId move on to the next category (used when a list
  // page yields nothing new).
  void SkipNewsStep() { ++step_; }

  // The plan cut into one plan per site name, in order of first appearance.
  // A site the mask order visits more than once keeps all its visits, in
  // their order, in its one plan: concurrent runs never share a site.
  std::vector<MaskPlan> SplitBySite() const;

  bool empty() const { return sites_.empty(); }
  const std::vector<PlanSite>& sites() const { return sites_; }
  // Names for progress texts; "GetCurSite:index ERROR" outside the plan.
  std::string CurrentSite() const;
  std::string CurrentCategory() const;
  // The category under the cursor; null outside the plan.
  const PlanCategory* Current() const;

 private:
  void Rewind();
  bool SkipExhaustedSites();

  std::vector<PlanSite> sites_;
  size_t site_ = 0;
  size_t category_ = 0;
  int step_ = 0;
  bool firstCall_ = true;
};

}  // namespace orvo
