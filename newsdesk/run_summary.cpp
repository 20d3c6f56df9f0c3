#include "run_summary.h"

#include <QRegularExpression>

namespace orvo {

void CRunSummary::Begin(int64_t lastNewsId) {
  *this = CRunSummary();
  active_ = true;
  lastId_ = lastNewsId < 0 ? 0 : lastNewsId;
}

void CRunSummary::Feed(const QString& text) {
  if (!active_) return;
  // Progress texts name the site: "Site: [name], Category: [...] ...".
  static const QRegularExpression site(QStringLiteral("^Site: \\[([^\\]]*)\\]"));
  QRegularExpressionMatch m = site.match(text);
  if (m.hasMatch()) {
    sites_.insert(m.captured(1));
    return;
  }
  // The engine's failure texts: "Can not ...", "News downloading error",
  // "3 of 5 images of [...] could not be stored".
  if (text.startsWith(QStringLiteral("Can not"), Qt::CaseInsensitive) ||
      text.contains(QStringLiteral("error"), Qt::CaseInsensitive) ||
      text.contains(QStringLiteral("failed"), Qt::CaseInsensitive) ||
      text.contains(QStringLiteral("could not"), Qt::CaseInsensitive))
    ++failures_;
}

void CRunSummary::Finish(int64_t newItems, int64_t newSites, bool interrupted) {
  active_ = false;
  interrupted_ = interrupted;
  newItems_ = newItems;
  newSites_ = newSites;
}

QString CRunSummary::Text() const {
  auto sites = [](int64_t n) { return n == 1 ? tr("1 site") : tr("%1 sites").arg(n); };
  QString items = newItems_ == 0 ? tr("no new news items")
                  : newItems_ == 1 ? tr("1 new news item")
                                   : tr("%1 new news items").arg(newItems_);
  QString text;
  if (interrupted_) {
    text = newItems_ > 0 ? tr("Download interrupted: the gathering engine ended before the download was complete; "
                              "%1 from %2 were stored before.")
                               .arg(items, sites(newSites_))
                         : tr("Download interrupted: the gathering engine ended before the download was complete; "
                              "no new news items were stored.");
  } else if (newItems_ > 0) text = tr("Download completed: %1 from %2.").arg(items, sites(newSites_));
  else if (!sites_.isEmpty()) text = tr("Download completed: %1 (%2 visited).").arg(items, sites(sitesVisited()));
  else text = tr("Download completed: %1.").arg(items);
  if (failures_ > 0)
    text += " " + (failures_ == 1 ? tr("1 failure; see the event log.") : tr("%1 failures; see the event log.").arg(failures_));
  return text;
}

}  // namespace orvo
