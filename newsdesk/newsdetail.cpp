#include "newsdetail.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDesktopServices>
#include <QPointer>
#include <QRegularExpression>
#include <QSaveFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollBar>
#include <QAbstractTextDocumentLayout>
#include <QTextDocument>
#include <QTextFrame>
#include <QVBoxLayout>

#include "database.h"
#include "file_dialogs.h"
#include "newsinfo.h"
#include "render.h"
#include "settings.h"

namespace orvo {

namespace {
constexpr double kSizeFactors[5] = {0.8, 0.9, 1.0, 1.2, 1.45};
const char* const kSizeNames[5] = {
    QT_TRANSLATE_NOOP("orvo::CNewsDetailView", "Smallest"), QT_TRANSLATE_NOOP("orvo::CNewsDetailView", "Smaller"),
    QT_TRANSLATE_NOOP("orvo::CNewsDetailView", "Medium"), QT_TRANSLATE_NOOP("orvo::CNewsDetailView", "Larger"),
    QT_TRANSLATE_NOOP("orvo::CNewsDetailView", "Largest")};
}  // namespace

// The text pane's browser and the printed page load their pictures only
// from the Images folder, or from the shown item's bytes.
class NewsBrowser : public QTextBrowser {
 public:
  NewsBrowser(const CNewsDetailItemStruct* shown, QWidget* parent) : QTextBrowser(parent), shown_(shown) {}
  QVariant loadResource(int type, const QUrl& name) override { return LoadNewsResource(type, name, shown_); }

 private:
  const CNewsDetailItemStruct* shown_;
};

class NewsDocument : public QTextDocument {
 public:
  explicit NewsDocument(const CNewsDetailItemStruct* shown) : shown_(shown) {}

 protected:
  QVariant loadResource(int type, const QUrl& name) override { return LoadNewsResource(type, name, shown_); }

 private:
  const CNewsDetailItemStruct* shown_;
};

// Search in the news text: find next or previous, with or without case.
class FindDialog : public QDialog {
  Q_DECLARE_TR_FUNCTIONS(FindDialog)

 public:
  explicit FindDialog(QTextBrowser* browser, QWidget* parent) : QDialog(parent), browser_(browser) {
    setWindowTitle(tr("Find"));
    edit_ = new QLineEdit(this);
    matchCase_ = new QCheckBox(tr("Match &case"), this);
    wholeWords_ = new QCheckBox(tr("Match &whole word only"), this);
    backwards_ = new QCheckBox(tr("Search &up"), this);
    status_ = new QLabel(this);
    auto* next = new QPushButton(tr("&Find Next"), this);
    next->setDefault(true);
    auto* close = new QPushButton(tr("Close"), this);
    auto* row = new QHBoxLayout;
    auto* label = new QLabel(tr("Fi&nd what:"), this);
    label->setBuddy(edit_);
    row->addWidget(label);
    row->addWidget(edit_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(matchCase_);
    buttons->addWidget(wholeWords_);
    buttons->addWidget(backwards_);
    buttons->addStretch();
    buttons->addWidget(next);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addLayout(buttons);
    layout->addWidget(status_);
    connect(next, &QPushButton::clicked, this, &FindDialog::FindNext);
    connect(close, &QPushButton::clicked, this, &QDialog::close);
  }

  void Start() {
    QString selected = browser_->textCursor().selectedText();
    if (!selected.isEmpty() && !selected.contains(QChar::ParagraphSeparator)) edit_->setText(selected);
    edit_->selectAll();
    status_->clear();
    show();
    raise();
    activateWindow();
    edit_->setFocus();
  }

  bool FindNext() {
    QString text = edit_->text();
    if (text.isEmpty()) return false;
    QTextDocument::FindFlags flags;
    if (matchCase_->isChecked()) flags |= QTextDocument::FindCaseSensitively;
    if (wholeWords_->isChecked()) flags |= QTextDocument::FindWholeWords;
    if (backwards_->isChecked()) flags |= QTextDocument::FindBackward;
    if (browser_->find(text, flags)) {
      status_->clear();
      return true;
    }
    // Go round once from the other end.
    QTextCursor c = browser_->textCursor();
    c.movePosition(backwards_->isChecked() ? QTextCursor::End : QTextCursor::Start);
    browser_->setTextCursor(c);
    if (browser_->find(text, flags)) {
      status_->clear();
      return true;
    }
    status_->setText(tr("Cannot find \"%1\".").arg(text));
    return false;
  }

  QLineEdit* edit_;

 private:
  QTextBrowser* browser_;
  QCheckBox* matchCase_;
  QCheckBox* wholeWords_;
  QCheckBox* backwards_;
  QLabel* status_;
};

CNewsDetailLoaderThread::CNewsDetailLoaderThread(Vault& vault, int32_t id, int delayMs, Deliver deliver)
    : thread_(&CNewsDetailLoaderThread::Run, this, std::ref(vault), id, delayMs, std::move(deliver)) {}

CNewsDetailLoaderThread::~CNewsDetailLoaderThread() {
  Cancel();
  thread_.join();
}

void CNewsDetailLoaderThread::Cancel() {
  std::lock_guard<std::mutex> l(mutex_);
  wanted_ = false;
  cv_.notify_all();
}

void CNewsDetailLoaderThread::Run(Vault& vault, int32_t id, int delayMs, Deliver deliver) {
  {
    // A newer selection within the delay cancels this load.
    std::unique_lock<std::mutex> l(mutex_);
    cv_.wait_for(l, std::chrono::milliseconds(delayMs), [this] { return !wanted_; });
    if (!wanted_) return;
  }
  Result result;
  {
    VaultLock lock(vault.lock);
    if (const CNewsInfoItemStruct* info = vault.db.LoadNewsInfo(id)) result.info = *info;
    if (const CNewsDetailItemStruct* detail = vault.db.LoadNewsDetail(id)) result.detail = *detail;
  }
  std::lock_guard<std::mutex> l(mutex_);
  if (wanted_) deliver(std::move(result));
}

CNewsDetailView::CNewsDetailView(Vault& vault, CNewsInfoView* info, QWidget* parent)
    : QWidget(parent), vault_(vault), info_(info) {
  browser_ = new NewsBrowser(&images_, this);
  browser_->setOpenLinks(false);
  browser_->setAccessibleName(tr("News text"));
  browser_->setContextMenuPolicy(Qt::CustomContextMenu);
  browser_->document()->setDefaultStyleSheet("body { font-style: normal; text-decoration: none; }");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(browser_);
  setFocusProxy(browser_);

  connect(browser_, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
    // Links in the news open in the user's browser; only web addresses.
    if (url.scheme() == "http" || url.scheme() == "https") QDesktopServices::openUrl(url);
  });
  connect(browser_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    if (menu_) menu_->exec(browser_->mapToGlobal(pos));
  });

  sizes_ = new QActionGroup(this);
  sizes_->setExclusive(true);
  for (int i = 4; i >= 0; --i) {
    QAction* a = sizes_->addAction(tr(kSizeNames[i]));
    a->setCheckable(true);
    a->setData(i);
    connect(a, &QAction::triggered, this, [this, i] { SetTextSize(i); });
  }
  int stored = Settings::Shared().ReadInt(kSystemSection, keys::kTextSize, 2);
  textSize_ = stored >= 0 && stored <= 4 ? stored : 2;
  ApplyTextSize();
}

CNewsDetailView::~CNewsDetailView() { loader_.reset(); }

QList<QAction*> CNewsDetailView::textSizeActions() const { return sizes_->actions(); }

void CNewsDetailView::Load(int32_t id) {
  loader_.reset();  // cancels a load still waiting
  uint64_t seq = ++seq_;
  QPointer<CNewsDetailView> self(this);
  loader_ = std::make_unique<CNewsDetailLoaderThread>(
      vault_, id, loadDelayMs_, [self, seq, id](CNewsDetailLoaderThread::Result r) {
        QMetaObject::invokeMethod(
            qApp, [self, seq, id, r = std::move(r)]() mutable {
              if (self) self->Deliver(seq, id, std::move(r));
            },
            Qt::QueuedConnection);
      });
}

void CNewsDetailView::Deliver(uint64_t seq, int32_t id, CNewsDetailLoaderThread::Result result) {
  if (seq != seq_) return;  // a newer selection won
  if (result.info) info_->SetInfo(*result.info);
  if (result.detail) {
    body_ = result.detail->body;
    images_ = *result.detail;
  } else {
    images_ = CNewsDetailItemStruct{};
  }
  Render(result.detail.has_value());
  ++delivered_;
  emit itemShown(id);
}

void CNewsDetailView::Clear() {
  loader_.reset();
  ++seq_;
  body_.clear();
  images_ = CNewsDetailItemStruct{};
  info_->Clear();
  Render(false);
}

void CNewsDetailView::Render(bool withImages) {
  if (withImages) body_ = SubstituteImages(body_, images_);
  body_ = RemovePlaceholders(body_);
  if (body_.empty() && info_->titleText().isEmpty()) {
    page_.clear();
    browser_->clear();
    return;
  }
  page_ = QString::fromStdString(BuildPage(info_->titleText().toStdString(), body_));
  ShowPage();
  browser_->verticalScrollBar()->setValue(0);
  browser_->moveCursor(QTextCursor::Start);
}

void CNewsDetailView::ShowPage() {
  browser_->setHtml(page_);
  // The pane's own palette: on a change it reaches the browser only after this.
  NeutraliseColours(browser_->document(), palette().color(QPalette::Link));
}

void CNewsDetailView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The desktop switched between light and dark: the page takes the new colours.
  if (event->type() == QEvent::PaletteChange && !page_.isEmpty()) {
    int scroll = browser_->verticalScrollBar()->value();
    ShowPage();
    browser_->verticalScrollBar()->setValue(scroll);
  }
}

void CNewsDetailView::SetTextSize(int size) {
  if (size < 0 || size > 4) return;
  textSize_ = size;
  Settings::Shared().WriteInt(kSystemSection, keys::kTextSize, size);
  ApplyTextSize();
}

void CNewsDetailView::ApplyTextSize() {
  QFont f = QApplication::font();
  f.setPointSizeF(f.pointSizeF() * kSizeFactors[textSize_]);
  browser_->document()->setDefaultFont(f);
  for (QAction* a : sizes_->actions()) a->setChecked(a->data().toInt() == textSize_);
}

void CNewsDetailView::Copy() { browser_->copy(); }
void CNewsDetailView::SelectAll() { browser_->selectAll(); }

void CNewsDetailView::FindInText() {
  if (!find_) find_ = new FindDialog(browser_, window());
  find_->Start();
}

std::unique_ptr<QTextDocument> CNewsDetailView::PrintDocument(QPagedPaintDevice* printer) const {
  // Laid out on the printer itself (its resolution, its page) from the
  // page the pane shows, with 2 cm margins.
  auto doc = std::make_unique<NewsDocument>(&images_);
  doc->setDefaultStyleSheet(browser_->document()->defaultStyleSheet());
  doc->setDefaultFont(browser_->document()->defaultFont());
  doc->documentLayout()->setPaintDevice(printer);
  doc->setHtml(page_);
  QTextFrameFormat fmt = doc->rootFrame()->frameFormat();
  // In screen units (96 dpi): the layout scales frame margins to the device.
  fmt.setMargin((2 / 2.54) * 96);
  doc->rootFrame()->setFrameFormat(fmt);
  doc->setPageSize(QSizeF(printer->width(), printer->height()));
  return doc;
}

void CNewsDetailView::Print() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintDialog dialog(&printer, window());
  dialog.setWindowTitle(tr("Print News"));
  if (dialog.exec() != QDialog::Accepted) return;
  {
    VaultLock lock(vault_.lock);
    if (vault_.db.IsOpen() && IsDatabaseFile(printer.outputFileName(), vault_.db.database()->path())) {
      QMessageBox::warning(window(), tr("Print News"),
                           tr("\"%1\" is the news database: print into another file.").arg(printer.outputFileName()));
      return;
    }
  }
  PrintDocument(&printer)->print(&printer);
}

void CNewsDetailView::PrintPreview() {
  QPrinter printer(QPrinter::HighResolution);
  QPrintPreviewDialog preview(&printer, window());
  connect(&preview, &QPrintPreviewDialog::paintRequested, this,
          [this](QPrinter* p) { PrintDocument(p)->print(p); });
  preview.exec();
}

void CNewsDetailView::SaveAs() {
  QString suggested = info_->titleText().left(60);
  suggested.replace(QRegularExpression(R"([/\\:*?"<>|])"), "_");
  if (suggested.isEmpty()) suggested = tr("news");
  QString path =
      AskSaveFileName(window(), tr("Save As"), suggested + ".html", tr("Web page (*.html *.htm);;Text (*.txt)"));
  if (path.isEmpty()) return;
  QString error;
  if (!SaveTo(path, &error))
    QMessageBox::warning(window(), tr("Save As"),
                         tr("Could not save \"%1\": %2\nChoose another folder or file name.").arg(path, error));
}

bool CNewsDetailView::SaveTo(const QString& path, QString* error) {
  {
    VaultLock lock(vault_.lock);
    if (vault_.db.IsOpen() && IsDatabaseFile(path, vault_.db.database()->path())) {
      *error = tr("this is the news database itself");
      return false;
    }
  }
  bool plain = path.endsWith(".txt", Qt::CaseInsensitive);
  QByteArray data = plain ? browser_->toPlainText().toUtf8() : browser_->toHtml().toUtf8();
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(data) != data.size() || !file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}

}  // namespace orvo
