// The tip of the day ("Did you know...").
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;

namespace orvo {

class CTipDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kTipCount = 14;
  static QString Tip(int index);

  // Shows the tip after the one TipNum names.
  explicit CTipDialog(QWidget* parent = nullptr);
  int tipIndex() const { return index_; }
  QString tipText() const;
  bool showAtStartup() const;

  void NextTip();

 protected:
  void done(int result) override;

 private:
  int index_ = 0;
  QLabel* text_;
  QCheckBox* startup_;
};

}  // namespace orvo
