#include "updates/reports.h"

#include <httplib.h>

#include <map>

#include "text.h"
#include "updates/server.h"

namespace orvo::updates {

namespace {

constexpr const char* kReportPath = R"(/(.*/)?report\.asp)";
constexpr const char* kListPath = R"(/(.*/)?reports\.asp)";
constexpr size_t kFieldLimit = 1000;

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Form values as one line, cut to a sane length.
std::string Field(const std::string& body, const char* name) {
  std::string v = FormValue(body, name);
  for (char& c : v)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  return v.size() > kFieldLimit ? v.substr(0, kFieldLimit) : v;
}

}  // namespace

void ReportBook::Add(MaskReport report) {
  std::lock_guard<std::mutex> lock(mutex_);
  reports_.push_back(std::move(report));
  if (reports_.size() > kKeep) reports_.erase(reports_.begin());
}

std::vector<MaskReport> ReportBook::All() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

std::string ReportBook::Page() const {
  struct Row {
    MaskReport latest;
    int count = 0;
  };
  std::map<std::pair<std::string, std::string>, Row> rows;
  for (const MaskReport& r : All()) {
    Row& row = rows[{r.site, r.category}];
    row.latest = r;
    ++row.count;
  }
  std::string page =
      "<html><head><meta charset=utf-8><title>Broken mask reports</title></head><body>"
      "<h1>Broken mask reports</h1>";
  if (rows.empty()) return page + "<p>No client has reported a broken mask since the server started.</p></body></html>";
  page += "<table border=1><tr><th>Site</th><th>Category</th><th>Mask versions (list/news)</th><th>Symptom</th>"
          "<th>Last report</th><th>Reports</th></tr>";
  for (const auto& [key, row] : rows)
    page += "<tr><td>" + Escape(key.first) + "</td><td>" + Escape(key.second) + "</td><td>" +
            Escape(row.latest.versions) + "</td><td>" + Escape(row.latest.symptom) + "</td><td>" +
            FormatDbTime(row.latest.at) + " from " + Escape(row.latest.from) + "</td><td>" +
            std::to_string(row.count) + "</td></tr>";
  return page + "</table></body></html>";
}

void InstallReportPages(httplib::Server& http, std::shared_ptr<ReportBook> book,
                        const std::function<void(const std::string&)>& log) {
  http.Post(kReportPath, [book, log](const httplib::Request& req, httplib::Response& res) {
    MaskReport r;
    r.at = std::time(nullptr);
    r.from = req.remote_addr;
    r.site = Field(req.body, "site");
    r.category = Field(req.body, "category");
    r.versions = Field(req.body, "versions");
    r.symptom = Field(req.body, "symptom");
    if (r.site.empty() || r.category.empty()) {
      res.status = 400;
      res.set_content("A report names the site and the category (form fields site and category).\n",
                      "text/plain; charset=utf-8");
      return;
    }
    if (log)
      log("broken mask reported by " + r.from + ": " + r.site + " / " + r.category + ", masks " + r.versions + ": " +
          r.symptom);
    book->Add(std::move(r));
    res.set_content("OK\n", "text/plain; charset=utf-8");
  });
  http.Get(kListPath, [book](const httplib::Request&, httplib::Response& res) {
    res.set_content(book->Page(), "text/html; charset=utf-8");
  });
}

}  // namespace orvo::updates
