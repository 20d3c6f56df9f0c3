#include "render.h"

#include <QBuffer>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QLocale>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <QUrl>

#include <cmath>
#include <functional>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "settings.h"
#include "stored_html.h"

namespace orvo {

namespace {

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
  for (size_t pos = s.find(from); pos != std::string::npos; pos = s.find(from, pos + to.size()))
    s.replace(pos, from.size(), to);
}

std::string Escape(const std::string& text) {
  return QString::fromStdString(text).toHtmlEscaped().toStdString();
}

}  // namespace

std::string CleanTitle(std::string_view title) {
  std::string s(title);
  ReplaceAll(s, "&#39;", "'");
  ReplaceAll(s, "\n", " ");
  ReplaceAll(s, "\r", "");
  return s;
}

namespace {
QString ImagesFolder() { return QString::fromStdString(ModuleDirectory()) + "Images/"; }

constexpr char kPictureScheme[] = "orvo-picture";

const std::string* PictureBytes(const CNewsDetailItemStruct& detail, size_t i) {
  return i < detail.imageBytes.size() && !detail.imageBytes[i].empty() ? &detail.imageBytes[i] : nullptr;
}
}  // namespace

QString PublishedText(std::time_t when) {
  if (!when) return QString();
  const QDateTime at = QDateTime::fromSecsSinceEpoch(when);
  if (at.time() == QTime(0, 0)) return QLocale().toString(at.date(), QLocale::ShortFormat);
  return QLocale().toString(at, QLocale::ShortFormat);
}

QString ImageUrl(const std::string& path) {
  QString p = QString::fromStdString(path);
  QString folder = ImagesFolder();
  if (!p.startsWith('/')) p = folder + p;
  else if (!p.startsWith(folder)) p = folder + QFileInfo(p).fileName();
  return QUrl::fromLocalFile(p).toString(QUrl::FullyEncoded);
}

QVariant LoadNewsResource(int type, const QUrl& url, const CNewsDetailItemStruct* shown) {
  if (type != QTextDocument::ImageResource) return QVariant(QString());
  QImage image;
  if (url.scheme() == kPictureScheme) {
    bool ok = false;
    const int i = url.path().toInt(&ok);
    const std::string* bytes = shown && ok && i >= 0 ? PictureBytes(*shown, static_cast<size_t>(i)) : nullptr;
    if (bytes) image.loadFromData(reinterpret_cast<const uchar*>(bytes->data()), static_cast<int>(bytes->size()));
  } else if (url.isLocalFile()) {
    QString folder = QFileInfo(ImagesFolder()).canonicalFilePath();
    QString file = QFileInfo(url.toLocalFile()).canonicalFilePath();
    // Links and ".." are resolved first: what counts is where the file is.
    if (!folder.isEmpty() && file.startsWith(folder + "/")) image.load(file);
  }
  if (image.isNull()) {
    // Never a null image: the text layout would then load the file by its
    // name itself. A refused or missing picture is one transparent pixel.
    image = QImage(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
  }
  return QVariant::fromValue(image);
}

std::string SubstituteImages(const std::string& body, const CNewsDetailItemStruct& detail) {
  std::string out = body;
  size_t count = std::min({detail.imageSources.size(), detail.imageCaptions.size(), detail.imagePositions.size()});
  for (size_t i = 0; i < count; ++i) {
    // Sources come from the web: they are data, not markup. Captions are
    // stored as HTML text, escaped already: only what is left bare is escaped.
    // Each picture in a paragraph of its own with its caption under it: a
    // floating picture lets the next one float up beside it on screen, and a
    // caption beside a picture is squeezed into a sliver on paper.
    // Wide pictures are shown narrower, so that a caption keeps its room on paper.
    std::string width;
    QString src;
    QSize size;
    if (const std::string* bytes = PictureBytes(detail, i)) {
      // The document keeps what it loaded by address: the bytes' hash tells
      // this item's first picture from the last one's.
      src = QString(kPictureScheme) + ":" + QString::number(i) + "?" +
            QString::number(std::hash<std::string_view>()(*bytes), 16);
      QByteArray data = QByteArray::fromRawData(bytes->data(), static_cast<qsizetype>(bytes->size()));
      QBuffer buffer(&data);
      size = QImageReader(&buffer).size();
    } else {
      src = ImageUrl(detail.imageSources[i]);
      size = QImageReader(QUrl(src).toLocalFile()).size();
    }
    if (size.width() > kMaxPictureWidth) width = " width=\"" + std::to_string(kMaxPictureWidth) + "\"";
    std::string html = "<p style=\"margin-top:10px; margin-bottom:10px;\"><img border=\"0\"" + width + " src=\"" +
                       Escape(src.toStdString()) + "\"><br /> " +
                       StoredHtmlMarkup(detail.imageCaptions[i]) + " </p>";
    ReplaceAll(out, "[[{" + std::to_string(detail.imagePositions[i]) + "}]]", html);
  }
  return out;
}

std::string RemovePlaceholders(std::string body) {
  size_t pos = 0;
  while ((pos = body.find("[[{", pos)) != std::string::npos) {
    size_t end = body.find("}]]", pos + 3);
    body.erase(pos, end == std::string::npos ? 3 : end + 3 - pos);
  }
  return body;
}

void NeutraliseColours(QTextDocument* doc, const QColor& link) {
  // Collected first: changing a format merges and splits the fragments walked.
  std::vector<std::pair<int, QTextBlockFormat>> blocks;
  std::vector<std::tuple<int, int, QTextCharFormat>> runs;
  for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
    QTextBlockFormat bf = block.blockFormat();
    if (bf.hasProperty(QTextFormat::BackgroundBrush)) {
      bf.clearBackground();
      blocks.emplace_back(block.position(), bf);
    }
    for (QTextBlock::iterator it = block.begin(); !it.atEnd(); ++it) {
      QTextFragment fragment = it.fragment();
      if (!fragment.isValid()) continue;
      QTextCharFormat cf = fragment.charFormat();
      bool anchor = cf.isAnchor() && !cf.anchorHref().isEmpty();
      if (!anchor && !cf.hasProperty(QTextFormat::ForegroundBrush) && !cf.hasProperty(QTextFormat::BackgroundBrush))
        continue;
      cf.clearBackground();
      if (anchor) cf.setForeground(link);
      else cf.clearForeground();
      runs.emplace_back(fragment.position(), fragment.length(), cf);
    }
  }
  QTextCursor cursor(doc);
  for (const auto& [position, format] : blocks) {
    cursor.setPosition(position);
    cursor.setBlockFormat(format);
  }
  for (const auto& [position, length, format] : runs) {
    cursor.setPosition(position);
    cursor.setPosition(position + length, QTextCursor::KeepAnchor);
    cursor.setCharFormat(format);
  }
  // Tables and their cells.
  std::vector<QTextFrame*> frames = {doc->rootFrame()};
  while (!frames.empty()) {
    QTextFrame* frame = frames.back();
    frames.pop_back();
    for (QTextFrame* child : frame->childFrames()) frames.push_back(child);
    if (frame != doc->rootFrame()) {
      QTextFrameFormat ff = frame->frameFormat();
      if (ff.hasProperty(QTextFormat::BackgroundBrush)) {
        ff.clearBackground();
        frame->setFrameFormat(ff);
      }
    }
    if (auto* table = qobject_cast<QTextTable*>(frame)) {
      for (int r = 0; r < table->rows(); ++r)
        for (int c = 0; c < table->columns(); ++c) {
          QTextTableCell cell = table->cellAt(r, c);
          QTextCharFormat cf = cell.format();
          if (!cf.hasProperty(QTextFormat::BackgroundBrush)) continue;
          cf.clearBackground();
          cell.setFormat(cf);
        }
    }
  }
}

std::string BuildPage(const std::string& title, const std::string& body) {
  return "<span id=\"0\"><span><h4>" + Escape(title) + "</h4>" + body;
}

QString ShortenToFit(const QString& text, const QFontMetrics& fm, int width) {
  int w = fm.horizontalAdvance(text);
  int n = static_cast<int>(text.size());
  if (w <= width || n == 0) return text;
  double perChar = static_cast<double>(w) / n;
  int cut = static_cast<int>(std::ceil((w - width) / perChar)) + 3;
  if (n < cut) return QString();
  return text.left(n - cut) + "...";
}

std::array<QRect, 12> InfoBarLayout(int W, int labelWidth, int label2Width) {
  int lw, vw, x3, lw3, x4, vw4;
  // Wider labels take their room from the value columns.
  int extra = std::max(0, labelWidth - 41) + std::max(0, label2Width - 55);
  if (W > 120 + extra) {
    lw = std::max(41, labelWidth);
    vw = ((W - 121 - extra) / 4) * 3;
    x3 = vw + 15 + lw;
    lw3 = std::max(55, label2Width);
    x4 = x3 + lw3 + 5;
    vw4 = W - x4 - 5;
  } else if (W >= 25) {
    lw = (W - 25) / 2;
    vw = 0;
    x3 = lw + 15;
    lw3 = lw;
    x4 = 2 * lw + 20;
    vw4 = 0;
  } else {
    lw = vw = lw3 = vw4 = 0;
    x3 = 15;
    x4 = 20;
  }
  const int ys[3] = {0, 17, 36};
  std::array<QRect, 12> r;
  for (int row = 0; row < 3; ++row) {
    r[row] = QRect(5, ys[row], lw, 15);
    r[3 + row] = QRect(lw + 10, ys[row], vw, 15);
    r[6 + row] = QRect(x3, ys[row], lw3, 15);
    r[9 + row] = QRect(x4, ys[row], vw4, 15);
  }
  return r;
}

}  // namespace orvo

// Resources in a static library register only when something refers to them.
static void InitResources() { Q_INIT_RESOURCE(newsdesk); }

namespace orvo {
void EnsureResources() {
  static bool done = (InitResources(), true);
  (void)done;
}
}  // namespace orvo
