#include "tipdialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "render.h"
#include "settings.h"
#include "vault.h"

namespace orvo {

namespace {
const char* const kTips[CTipDialog::kTipCount] = {
    QT_TRANSLATE_NOOP(
        "orvo::CTipDialog",
        "Double-click the ORVO icon in the notification area to bring the window back. Closing the window only "
        "hides it; choose Exit in the icon's menu to quit."),
    QT_TRANSLATE_NOOP(
        "orvo::CTipDialog",
        "A news item is marked as read once it has stayed selected for a while. Set the delay under Options, "
        "Miscellaneous."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Right-click a news item to mark it read or unread, delete it, or copy its address."),
    QT_TRANSLATE_NOOP(
        "orvo::CTipDialog",
        "Click a column heading to sort the news by site, category, date or title. Click it again to reverse the "
        "order."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Show only unread hides the news you have already read. Press it again to see them all."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Type words into the Keywords box and press Enter to search the titles and texts of all news."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Turn on Search in found to search only within the news that are listed now."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Save your searches as filters and pick them from the Filters list on the toolbar."),
    QT_TRANSLATE_NOOP(
        "orvo::CTipDialog",
        "A filter can also feed the eBooks for your handheld: tick \"Use filter in .lit files generation\"."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Click the address in the information bar to open the original page in your web browser."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog", "Use Search in Text (Ctrl+F) to find a word in the news you are reading."),
    QT_TRANSLATE_NOOP(
        "orvo::CTipDialog",
        "Five text sizes are in the View menu and in the text's right-click menu; ORVO remembers your choice."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Print a news item, look at it first with Print Preview, or save it as a web page or as text."),
    QT_TRANSLATE_NOOP("orvo::CTipDialog",
                      "Deleted news never come back: not in the list, not in a search and not in an eBook."),
};
}  // namespace

QString CTipDialog::Tip(int index) {
  if (index < 0 || index >= kTipCount) return QString();
  return tr(kTips[index]);
}

CTipDialog::CTipDialog(QWidget* parent) : QDialog(parent) {
  EnsureResources();
  setWindowTitle(tr("Tip of the Day"));
  auto* heading = new QLabel(tr("<b>Did you know...</b>"), this);
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(":/icons/tip.svg").pixmap(32, 32));
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  text_->setMinimumSize(320, 80);
  text_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  startup_ = new QCheckBox(tr("&Show tips at startup"), this);
  Settings settings = Settings::Shared();
  startup_->setChecked(settings.ReadInt(kSystemSection, keys::kStartTip, 1) != 0);
  index_ = settings.ReadInt(kSystemSection, keys::kTipNum, -1);
  auto* next = new QPushButton(tr("&Next Tip"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
  buttons->addButton(next, QDialogButtonBox::ActionRole);
  connect(next, &QPushButton::clicked, this, &CTipDialog::NextTip);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  texts->addWidget(heading);
  texts->addWidget(text_, 1);
  top->addLayout(texts, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top, 1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(startup_);
  bottom->addStretch();
  bottom->addWidget(buttons);
  layout->addLayout(bottom);
  NextTip();
}

void CTipDialog::NextTip() {
  ++index_;
  if (index_ < 0 || index_ >= kTipCount || Tip(index_).isEmpty()) index_ = 0;
  text_->setText(Tip(index_));
}

QString CTipDialog::tipText() const { return text_->text(); }
bool CTipDialog::showAtStartup() const { return startup_->isChecked(); }

void CTipDialog::done(int result) {
  Settings settings = Settings::Shared();
  settings.WriteInt(kSystemSection, keys::kTipNum, index_);
  settings.WriteInt(kSystemSection, keys::kStartTip, startup_->isChecked() ? 1 : 0);
  QDialog::done(result);
}

}  // namespace orvo
