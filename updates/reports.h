// Reports of broken masks sent by clients ("/report.asp": site, category, the
// mask versions and the symptom), logged and listed on a page of their own
// ("/reports.asp") so that the server's keeper knows which masks to mend.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
class Server;
}

namespace orvo::updates {

struct MaskReport {
  std::time_t at = 0;
  std::string from;  // client address
  std::string site, category, versions, symptom;
};

// The reports since the server started, newest last, at most kKeep of them.
class ReportBook {
 public:
  static constexpr size_t kKeep = 1000;
  void Add(MaskReport report);
  std::vector<MaskReport> All() const;
  // The listing page: one row per site/category pair, its latest report and
  // how many times it was reported.
  std::string Page() const;

 private:
  mutable std::mutex mutex_;
  std::vector<MaskReport> reports_;
};

// Adds both pages to http, which keeps the book alive; each report also goes
// to log as one line.
void InstallReportPages(httplib::Server& http, std::shared_ptr<ReportBook> book,
                        const std::function<void(const std::string&)>& log);

}  // namespace orvo::updates
