#include "cover.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "stored_html.h"
#include "text.h"

namespace orvo {

namespace {

constexpr int kMargin = 90;
constexpr int kBandHeight = 640;
constexpr size_t kCategoriesShown = 6;

QFont CoverFont(int pixelSize, bool bold) {
  QFont font(QStringLiteral("DejaVu Serif"));
  font.setStyleHint(QFont::Serif);  // whatever serif face fontconfig has
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

// The largest size up to `size` at which `text` fits `box` word-wrapped.
QFont FittingFont(const QString& text, const QRect& box, int size, bool bold) {
  for (; size > 24; size -= 4) {
    QFont font = CoverFont(size, bold);
    QRect need = QFontMetrics(font).boundingRect(box, Qt::TextWordWrap, text);
    if (need.width() <= box.width() && need.height() <= box.height()) return font;
  }
  return CoverFont(size, bold);
}

void DrawLine(QPainter& p, int* y, const QString& text, const QFont& font, const QColor& color) {
  p.setFont(font);
  p.setPen(color);
  QFontMetrics metrics(font);
  const int width = kCoverWidth - 2 * kMargin;
  p.drawText(QRect(kMargin, *y, width, metrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
             metrics.elidedText(text, Qt::ElideRight, width));
  *y += metrics.lineSpacing();
}

QImage Draw(const VolumeModel& model) {
  QImage image(kCoverWidth, kCoverHeight, QImage::Format_RGB32);
  image.fill(QColor(0xf4, 0xf1, 0xea));
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  const QColor ink(0x22, 0x31, 0x3f), paper(0xf4, 0xf1, 0xea), accent(0xc0, 0x5a, 0x2b);
  p.fillRect(0, 0, kCoverWidth, kBandHeight, ink);
  p.fillRect(0, kBandHeight, kCoverWidth, 16, accent);

  QFont brand = CoverFont(44, true);
  brand.setLetterSpacing(QFont::AbsoluteSpacing, 14);
  p.setFont(brand);
  p.setPen(paper);
  p.drawText(QRect(kMargin, 70, kCoverWidth - 2 * kMargin, 60), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("ORVO"));

  const QString title = QString::fromStdString(StoredHtmlText(model.title));
  const QRect titleBox(kMargin, 170, kCoverWidth - 2 * kMargin, kBandHeight - 170 - 60);
  p.setFont(FittingFont(title, titleBox, 128, true));
  p.drawText(titleBox, Qt::AlignLeft | Qt::AlignBottom | Qt::TextWordWrap, title);

  int y = kBandHeight + 90;
  DrawLine(p, &y, QString::fromStdString(FormatLocalTime(model.buildTime, "%d.%m.%Y %H:%M")),
           CoverFont(60, false), ink);
  y += 50;
  p.fillRect(kMargin, y, 160, 6, accent);
  y += 70;

  const QFont categoryFont = CoverFont(58, true);
  const int lastLine = kCoverHeight - 140 - 2 * QFontMetrics(categoryFont).lineSpacing();
  size_t shown = 0;
  for (const VolumeCategory& c : model.categories) {
    if (shown == kCategoriesShown || y > lastLine) break;
    DrawLine(p, &y, QString::fromStdString(StoredHtmlText(c.name)), categoryFont, ink);
    ++shown;
  }
  if (shown < model.categories.size()) {
    const size_t more = model.categories.size() - shown;
    DrawLine(p, &y,
             QStringLiteral("and %1 more %2").arg(more).arg(more == 1 ? "category" : "categories"),
             CoverFont(46, false), ink);
  }

  size_t news = 0;
  for (const VolumeCategory& c : model.categories) news += c.news.size();
  int bottom = kCoverHeight - 130;
  DrawLine(p, &bottom, QStringLiteral("%1 %2").arg(news).arg(news == 1 ? "news item" : "news items"),
           CoverFont(44, false), QColor(0x55, 0x55, 0x55));
  return image;
}

}  // namespace

std::string DrawCoverPng(const VolumeModel& model, std::string* why) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    *why = "no cover picture: drawing text needs a QGuiApplication in this process";
    return {};
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!Draw(model).save(&buffer, "PNG")) {
    *why = "no cover picture: Qt could not encode it as PNG";
    return {};
  }
  return bytes.toStdString();
}

}  // namespace orvo
