#include "engine_texts.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <array>

namespace orvo {

namespace {

constexpr const char* kContext = "orvo::EngineTexts";

// An engine text: its pattern (the captures fill %1, %2 ... in order) and
// the message the translation knows it by.
struct KnownText {
  const char* pattern;
  const char* message;
};

const std::array<KnownText, 17> kKnown = {{
    {R"(^Site: \[(.*)\], Category: \[(.*)\] <News searching\.\.\.> URL: \[(.*)\]$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Site: [%1], Category: [%2] <News searching...> URL: [%3]")},
    {R"(^Site: \[(.*)\], Category: \[(.*)\] <News: (\d+) from (\d+)> URL: \[(.*)\]$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Site: [%1], Category: [%2] <News: %3 from %4> URL: [%5]")},
    {R"(^Checking for updates\.\.\.$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "Checking for updates...")},
    {R"(^Updates for: Site \[(.*)\], Category \[(.*)\]\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Updates for: Site [%1], Category [%2].")},
    {R"(^Updating news database$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "Updating news database")},
    {R"(^Download completed\.$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "Download completed.")},
    {R"(^News downloading error$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "News downloading error")},
    {R"(^Stop download$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "Stop download")},
    {R"(^No updates server is set; only your own sites are downloaded\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "No updates server is set; only your own sites are downloaded.")},
    {R"(^Site template updates are switched off \(DownloadUpdates=0\): downloading with the stored catalogue and masks\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts",
                       "Site template updates are switched off (DownloadUpdates=0): downloading with the stored "
                       "catalogue and masks.")},
    {R"(^Can not get updates from (.*); downloading with the stored masks\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Can not get updates from %1; downloading with the stored masks.")},
    {R"(^Can not read the page \[(.*)\]: (.*)\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Can not read the page [%1]: %2.")},
    {R"(^Can not open news database\. Please check you settings\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Can not open news database. Please check you settings.")},
    {R"(^\*\.lit files generation started$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "*.lit files generation started")},
    {R"(^\*\.lit files generation completed successfully$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "*.lit files generation completed successfully")},
    {R"(^Lit generation Failed$)", QT_TRANSLATE_NOOP("orvo::EngineTexts", "Lit generation Failed")},
    {R"(^Can not store the news item \[(.*)\]: (.*)\.$)",
     QT_TRANSLATE_NOOP("orvo::EngineTexts", "Can not store the news item [%1]: %2.")},
}};

}  // namespace

EngineProgress ParseEngineProgress(const QString& text) {
  static const QRegularExpression searching(kKnown[0].pattern);
  static const QRegularExpression counting(kKnown[1].pattern);
  EngineProgress p;
  if (QRegularExpressionMatch m = counting.match(text); m.hasMatch()) {
    p.valid = true;
    p.site = m.captured(1);
    p.category = m.captured(2);
    p.done = m.captured(3).toInt();
    p.total = m.captured(4).toInt();
    p.url = m.captured(5);
  } else if (QRegularExpressionMatch s = searching.match(text); s.hasMatch()) {
    p.valid = true;
    p.searching = true;
    p.site = s.captured(1);
    p.category = s.captured(2);
    p.url = s.captured(3);
  }
  return p;
}

QString TranslateEngineText(const QString& text) {
  static const std::vector<QRegularExpression> patterns = [] {
    std::vector<QRegularExpression> list;
    for (const KnownText& k : kKnown) list.emplace_back(QString::fromUtf8(k.pattern));
    return list;
  }();
  for (size_t i = 0; i < kKnown.size(); ++i) {
    QRegularExpressionMatch m = patterns[i].match(text);
    if (!m.hasMatch()) continue;
    QString out = QCoreApplication::translate(kContext, kKnown[i].message);
    // Captured text is data: filled in one pass, so a "%1" inside a site's
    // name stays as it is.
    QStringList captures;
    for (int c = 1; c <= m.lastCapturedIndex(); ++c) captures << m.captured(c);
    switch (captures.size()) {
      case 0: return out;
      case 1: return out.arg(captures[0]);
      case 2: return out.arg(captures[0], captures[1]);
      case 3: return out.arg(captures[0], captures[1], captures[2]);
      case 4: return out.arg(captures[0], captures[1], captures[2], captures[3]);
      default: return out.arg(captures[0], captures[1], captures[2], captures[3], captures[4]);
    }
  }
  return text;
}

}  // namespace orvo
