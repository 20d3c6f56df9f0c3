#include "newsinfo.h"

#include <QApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QUrl>

#include "render.h"

namespace orvo {

InfoField::InfoField(QWidget* parent) : QWidget(parent) {}

void InfoField::setText(const QString& text) {
  text_ = text;
  setToolTip(shownText() == text_ ? QString() : text_);
  update();
}

QString InfoField::shownText() const { return ShortenToFit(text_, fontMetrics(), width()); }

void InfoField::setLink(bool link) {
  link_ = link;
  setCursor(link ? Qt::PointingHandCursor : Qt::ArrowCursor);
}

void InfoField::paintEvent(QPaintEvent*) {
  QPainter p(this);
  if (link_) {
    // The palette's link colour: blue on a light desktop, a lighter one on a dark.
    p.setPen(palette().color(QPalette::Link));
    QFont f = font();
    f.setUnderline(true);
    p.setFont(f);
  } else {
    p.setPen(palette().color(QPalette::WindowText));
  }
  p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shownText());
}

void InfoField::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) emit clicked();
}

CNewsInfoView::CNewsInfoView(QWidget* parent) : QWidget(parent) {
  setFixedHeight(kHeight);
  QFont font = QApplication::font("QMenu");
  QFont bold = font;
  bold.setWeight(QFont::Bold);
  const char* names[6] = {QT_TR_NOOP("Title:"), QT_TR_NOOP("Author:"),   QT_TR_NOOP("WWW:"),
                          QT_TR_NOOP("Site:"),  QT_TR_NOOP("Category:"), QT_TR_NOOP("Published:")};
  for (size_t i = 0; i < 6; ++i) {
    labels_[i] = new InfoField(this);
    labels_[i]->setFont(font);
    labels_[i]->setText(tr(names[i]));
    values_[i] = new InfoField(this);
    values_[i]->setFont(bold);
  }
  values_[2]->setLink(true);
  // Fonts taller than the 15-pixel rows would be clipped: the rows stretch.
  int rowHeight = std::max(15, QFontMetrics(bold).height());
  setFixedHeight(std::max(kHeight, rowHeight * 36 / 15 + rowHeight + 4));
  connect(values_[2], &InfoField::clicked, this, &CNewsInfoView::OpenLink);
}

void CNewsInfoView::SetInfo(const CNewsInfoItemStruct& info) {
  values_[0]->setText(QString::fromStdString(CleanTitle(info.title)));
  values_[1]->setText(QString::fromStdString(info.author));
  values_[2]->setText(QString::fromStdString(info.link));
  values_[3]->setText(QString::fromStdString(info.site));
  QString category = QString::fromStdString(info.category);
  // News found while the pair's masks were broken say so.
  if (info.foundWithoutMask == 2) category += tr(" (link from the site's feed)");
  else if (info.foundWithoutMask != 0) category += tr(" (found by automatic extraction)");
  values_[4]->setText(category);
  values_[5]->setText(PublishedText(info.published));
}

void CNewsInfoView::Clear() {
  for (InfoField* v : values_) v->setText(QString());
}

void CNewsInfoView::OpenLink() {
  QString text = linkText().trimmed();
  if (text.isEmpty()) return;
  QUrl url = QUrl::fromUserInput(text);
  // The address comes from a web page: only web addresses are opened, never a
  // local file or a program.
  if (!url.isValid() || (url.scheme() != "http" && url.scheme() != "https")) return;
  emit linkActivated(url);
  QDesktopServices::openUrl(url);
}

void CNewsInfoView::resizeEvent(QResizeEvent*) {
  auto widest = [](const std::array<InfoField*, 6>& fields, size_t from) {
    int w = 0;
    for (size_t i = from; i < from + 3; ++i) w = std::max(w, fields[i]->fontMetrics().horizontalAdvance(fields[i]->text()));
    return w + 4;
  };
  std::array<QRect, 12> r = InfoBarLayout(width(), widest(labels_, 0), widest(labels_, 3));
  int rowHeight = std::max(15, values_[0]->fontMetrics().height());
  double scale = rowHeight / 15.0;
  for (size_t i = 0; i < 12; ++i) {
    QRect g = r[i];
    g.moveTop(static_cast<int>(g.top() * scale));
    g.setHeight(rowHeight);
    InfoField* f = i < 3 ? labels_[i] : i < 6 ? values_[i - 3] : i < 9 ? labels_[i - 3] : values_[i - 6];
    f->setGeometry(g);
  }
}

}  // namespace orvo
