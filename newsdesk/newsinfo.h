// CNewsInfoView: the information bar between the grid and the text, with the
// title, author, address, site, category and publication date of the item.
#pragma once

#include <QWidget>

#include <array>

#include "vaultmap/records.h"

namespace orvo {

// A one-line field that shortens its text with "..." when it does not fit.
class InfoField : public QWidget {
  Q_OBJECT
 public:
  explicit InfoField(QWidget* parent = nullptr);
  void setText(const QString& text);
  QString text() const { return text_; }
  // What is drawn at the current width.
  QString shownText() const;
  void setLink(bool link);

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  QString text_;
  bool link_ = false;
};

class CNewsInfoView : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kHeight = 55;
  explicit CNewsInfoView(QWidget* parent = nullptr);

  void SetInfo(const CNewsInfoItemStruct& info);
  void Clear();

  QString titleText() const { return values_[0]->text(); }
  QString authorText() const { return values_[1]->text(); }
  QString linkText() const { return values_[2]->text(); }
  QString siteText() const { return values_[3]->text(); }
  QString categoryText() const { return values_[4]->text(); }
  QString publishedText() const { return values_[5]->text(); }
  InfoField* field(int i) const { return values_[static_cast<size_t>(i)]; }

  QSize sizeHint() const override { return QSize(400, kHeight); }

 signals:
  void linkActivated(const QUrl& url);

 protected:
  void resizeEvent(QResizeEvent*) override;

 private:
  void OpenLink();

  std::array<InfoField*, 6> labels_{};
  // Title, Author, WWW, Site, Category, Published.
  std::array<InfoField*, 6> values_{};
};

}  // namespace orvo
