#include "site_farm.h"

#include <chrono>
#include <thread>

#include "engine_home.h"

namespace orvo::testing {

namespace {

const char kNewsMask[] =
    "<x-head></x-head><div class=story><h2 role=header></h2>"
    "<div class=text><p ord=-1 role=text></p><img ord=-1 role=img></div></div>";

int SiteOf(const httplib::Request& req) { return std::stoi(req.matches[1]); }

}  // namespace

SiteFarm::SiteFarm(const SiteFarmOptions& options) : options_(options) {
  auto& s = fx_.server();
  // Every connection holds a thread of the server while it is kept open:
  // enough of them for all the engine's connections at once.
  s.new_task_queue = [] { return new httplib::ThreadPool(64); };
  s.Post("/upd/catalog.asp", [this](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    std::string rows;
    for (int k = 1; k <= options_.sites; ++k) {
      const std::string n = std::to_string(k);
      rows += "<tr name='" + SiteName(k) + "'><td cat=News ListMask=L" + n + " Vers=3></td><td NPMask=N" + n +
              " Vers=3></td></tr>";
    }
    Page(res, "<table>" + rows + "</table>");
  });
  s.Post("/upd/getmask.asp", [this](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    std::string id = req.body.size() > 6 ? req.body.substr(6) : "";
    if (!id.empty() && id.back() == '\0') id.pop_back();
    if (id.size() < 2) {
      res.status = 404;
      return;
    }
    if (id[0] == 'N') {
      res.set_content(kNewsMask, "text/html");
    } else {
      res.set_content("<x-head url='" + Url("/s" + id.substr(1) + "/list.html") +
                          "'></x-head><div class=lenta><a ord=-1 role=link></a></div>",
                      "text/html");
    }
  });
  s.Get("/upd/end.asp", [this](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    res.set_content("", "text/plain");
  });

  s.Get(R"(/s(\d+)/list\.html)", [this](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    const int site = SiteOf(req);
    if (site == options_.hangingSite) {
      ++hangingNow_;
      for (int i = 0; i < 1200 && !released_ && !fx_.stopping(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      --hangingNow_;
    }
    std::string links;
    for (int n = 1; n <= options_.stories; ++n)
      links += "<a href='/s" + std::to_string(site) + "/" + std::to_string(n) + ".html'>Story</a> ";
    for (int n = 1; n <= options_.sharedStories; ++n)
      links += "<a href='/shared/" + std::to_string(n) + ".html'>Shared</a> ";
    Page(res, "<div class=lenta>" + links + "</div>");
  });
  auto story = [this](const std::string& prefix, const std::string& n, httplib::Response& res) {
    std::string imgs;
    for (int i = 0; i < options_.imagesPerStory; ++i)
      imgs += "<img src='" + prefix + "/img/" + n + "_" + std::to_string(i) + ".png'>";
    Page(res, "<div class=story><h2>Story " + prefix + "/" + n + "</h2><div class=text><p>Text of story " + n +
                  ".</p>" + imgs + "</div></div>");
  };
  s.Get(R"(/s(\d+)/(\d+)\.html)", [this, story](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    story("/s" + std::string(req.matches[1]), req.matches[2], res);
  });
  s.Get(R"(/shared/(\d+)\.html)", [this, story](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    story("/shared", req.matches[1], res);
  });
  s.Get(R"(/(s\d+|shared)/img/(\w+)\.png)", [this](const httplib::Request& req, httplib::Response& res) {
    Arrived(req);
    res.set_content("PNG:" + std::string(req.matches[2]) + std::string(500, '.'), "image/png");
  });
  if (options.plain) fx_.ServePlain();
  fx_.Start();
}

void SiteFarm::Arrived(const httplib::Request& req) {
  std::lock_guard<std::mutex> lock(mutex_);
  arrivals_.push_back(req.method + " " + req.path);
}

std::vector<std::string> SiteFarm::Arrivals() {
  std::lock_guard<std::mutex> lock(mutex_);
  return arrivals_;
}

void SiteFarm::Wait(int ms) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < until && !fx_.stopping())
    std::this_thread::sleep_for(std::min(std::chrono::milliseconds(20),
                                         std::chrono::duration_cast<std::chrono::milliseconds>(
                                             until - std::chrono::steady_clock::now())));
}

void SiteFarm::Page(httplib::Response& res, const std::string& html) {
  const int now = ++atOnce_;
  for (int most = mostAtOnce_; now > most && !mostAtOnce_.compare_exchange_weak(most, now);) {
  }
  if (options_.delayMs > 0) Wait(options_.delayMs);
  res.set_content("<html><head><meta charset=utf-8></head><body>" + html + "</body></html>",
                  "text/html; charset=utf-8");
  --atOnce_;
}

std::string SiteFarm::DownloadUrl() const {
  return "127.0.0.1:" + std::to_string(fx_.port()) + "/upd/catalog.asp";
}

std::string SiteFarm::Story(int site, int n) const {
  return Url("/s" + std::to_string(site) + "/" + std::to_string(n) + ".html");
}

std::vector<std::string> SiteFarm::AllStories() const {
  std::vector<std::string> all;
  for (int k = 1; k <= options_.sites; ++k)
    for (int n = 1; n <= options_.stories; ++n) all.push_back(Story(k, n));
  for (int n = 1; n <= options_.sharedStories; ++n) all.push_back(SharedStory(n));
  return all;
}

std::vector<std::string> SiteFarm::SiteRequests(int site) {
  const std::string prefix = "GET /s" + std::to_string(site) + "/";
  std::vector<std::string> mine;
  for (std::string& r : Arrivals())
    if (r.rfind(prefix, 0) == 0) mine.push_back(std::move(r));
  return mine;
}

void PrepareFarmHome(EngineHome& home, SiteFarm& farm, int connectTimeout, int parallelSites) {
  Settings s = home.settings();
  s.WriteText(kSystemSection, "PathDB", home.dbPath());
  s.WriteText(kSystemSection, "DownloadURL", farm.DownloadUrl());
  s.WriteInt(kDownloadSection, "ConnectTimeout", connectTimeout);
  if (parallelSites != 0) s.WriteInt(kDownloadSection, "ParallelSites", parallelSites);
  for (int k = 1; k <= farm.options().sites; ++k) {
    const int64_t pair = home.AddPair(SiteFarm::SiteName(k), "News", true);
    home.AddMask(pair, 0, 1);
    home.AddMask(pair, 1, 1);
  }
}

}  // namespace orvo::testing
