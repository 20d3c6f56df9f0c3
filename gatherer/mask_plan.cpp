#include "mask_plan.h"

#include <algorithm>

#include "database.h"

namespace orvo {

void MaskPlan::Rewind() {
  site_ = 0;
  category_ = 0;
  step_ = 0;
  firstCall_ = true;
}

void MaskPlan::Build(const std::vector<PlanRow>& rows) {
  sites_.clear();
  size_t i = 0;
  while (i < rows.size()) {
    PlanSite site;
    site.name = rows[i].site;
    while (i < rows.size() && rows[i].site == site.name) {
      PlanCategory cat;
      cat.name = rows[i].category;
      while (i < rows.size() && rows[i].site == site.name && rows[i].category == cat.name) {
        int& slot = rows[i].type == 0 ? cat.listMaskId : cat.newsMaskId;
        if (rows[i].version > 0 || slot == 0) slot = rows[i].maskId;
        ++i;
      }
      if (cat.listMaskId > 0 && cat.newsMaskId > 0) site.categories.push_back(std::move(cat));
    }
    sites_.push_back(std::move(site));
  }
  Rewind();
}

void MaskPlan::AddOwn(const std::vector<PlanCategory>& own, const std::vector<std::string>& siteNames) {
  for (size_t i = 0; i < own.size() && i < siteNames.size(); ++i) {
    if (sites_.empty() || sites_.back().name != siteNames[i] || sites_.back().categories.empty() ||
        sites_.back().categories.back().ownPair == 0)
      sites_.push_back(PlanSite{siteNames[i], {}});
    sites_.back().categories.push_back(own[i]);
  }
  Rewind();
}

bool MaskPlan::HasOwn() const {
  for (const PlanSite& site : sites_)
    for (const PlanCategory& c : site.categories)
      if (c.ownPair != 0) return true;
  return false;
}

void MaskPlan::KeepOwnOnly() {
  for (PlanSite& site : sites_) std::erase_if(site.categories, [](const PlanCategory& c) { return c.ownPair == 0; });
  std::erase_if(sites_, [](const PlanSite& s) { return s.categories.empty(); });
  Rewind();
}

const PlanCategory* MaskPlan::Current() const {
  if (site_ < sites_.size() && category_ < sites_[site_].categories.size()) return &sites_[site_].categories[category_];
  return nullptr;
}

std::vector<MaskPlan> MaskPlan::SplitBySite() const {
  std::vector<MaskPlan> plans;
  for (const PlanSite& site : sites_) {
    auto same = std::find_if(plans.begin(), plans.end(),
                             [&site](const MaskPlan& p) { return p.sites_.front().name == site.name; });
    if (same == plans.end()) {
      plans.emplace_back();
      same = plans.end() - 1;
    }
    same->sites_.push_back(site);
  }
  return plans;
}

bool MaskPlan::SkipExhaustedSites() {
  while (site_ < sites_.size() && category_ >= sites_[site_].categories.size()) {
    ++site_;
    category_ = 0;
  }
  return site_ < sites_.size();
}

int MaskPlan::NextMaskId() {
  if (sites_.empty()) return -1;
  if (firstCall_) {
    firstCall_ = false;
  } else {
    ++step_;
  }
  if (!SkipExhaustedSites()) return -1;
  if (step_ >= 2) {
    step_ = 0;
    ++category_;
    if (!SkipExhaustedSites()) return -1;
  }
  const PlanCategory& cat = sites_[site_].categories[category_];
  return step_ == 0 ? cat.listMaskId : cat.newsMaskId;
}

std::string MaskPlan::CurrentSite() const {
  if (site_ < sites_.size()) return sites_[site_].name;
  return "GetCurSite:" + std::to_string(site_) + " ERROR";
}

std::string MaskPlan::CurrentCategory() const {
  if (site_ < sites_.size() && category_ < sites_[site_].categories.size())
    return sites_[site_].categories[category_].name;
  return "GetCurCategory:" + std::to_string(category_) + " ERROR";
}

}  // namespace orvo
