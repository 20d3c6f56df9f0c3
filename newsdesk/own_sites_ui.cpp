#include "own_sites_ui.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <ctime>

#include "database.h"
#include "file_dialogs.h"
#include "opml.h"
#include "store/own_sites.h"
#include "platform.h"
#include "settings.h"

namespace orvo {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CWelcomePane::CWelcomePane(QWidget* over) : QFrame(over) {
  setObjectName("WelcomePane");
  setAutoFillBackground(true);
  setFrameShape(QFrame::NoFrame);
  auto* title = new QLabel(tr("<h2>Welcome to ORVO</h2>"), this);
  auto* text = new QLabel(tr("There are no sites yet. Add the sites and feeds you read, bring them from another "
                             "feed reader, or use an updates server that offers a catalogue of sites."),
                          this);
  text->setWordWrap(true);
  add_ = new QPushButton(tr("Add a site or feed..."), this);
  import_ = new QPushButton(tr("Import OPML..."), this);
  server_ = new QPushButton(tr("Use an updates server..."), this);
  auto* layout = new QVBoxLayout(this);
  layout->addStretch(1);
  layout->addWidget(title, 0, Qt::AlignHCenter);
  layout->addWidget(text);
  for (QPushButton* b : {add_, import_, server_}) layout->addWidget(b, 0, Qt::AlignHCenter);
  layout->addStretch(2);
  layout->setContentsMargins(40, 20, 40, 20);
  connect(add_, &QPushButton::clicked, this, &CWelcomePane::addSiteRequested);
  connect(import_, &QPushButton::clicked, this, &CWelcomePane::importRequested);
  connect(server_, &QPushButton::clicked, this, &CWelcomePane::updatesServerRequested);
  over->installEventFilter(this);
  setGeometry(over->rect());
}

bool CWelcomePane::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) setGeometry(parentWidget()->rect());
  return QFrame::eventFilter(watched, event);
}

CAddSiteDialog::CAddSiteDialog(Vault& vault, QWidget* parent)
    : QDialog(parent), vault_(vault), program_(QString::fromStdString(ExecutableDirectory()) + "orvo") {
  setObjectName("AddSiteDialog");
  setWindowTitle(tr("Add a site or feed"));
  address_ = new QLineEdit(this);
  address_->setPlaceholderText(tr("Address of a site or of its feed"));
  address_->setAccessibleName(tr("Address"));
  find_ = new QPushButton(tr("&Find"), this);
  feeds_ = new QListWidget(this);
  feeds_->setAccessibleName(tr("Feeds the page advertises"));
  feeds_->hide();
  preview_ = new QLabel(this);
  preview_->setWordWrap(true);
  preview_->setTextFormat(Qt::PlainText);
  preview_->setMinimumHeight(120);
  preview_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
  preview_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  site_ = new QLineEdit(this);
  site_->setPlaceholderText(tr("The feed's title"));
  category_ = new QLineEdit(tr("News"), this);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
  add_ = buttons->addButton(tr("&Add"), QDialogButtonBox::AcceptRole);
  add_->setEnabled(false);

  auto* row = new QHBoxLayout;
  row->addWidget(address_, 1);
  row->addWidget(find_);
  auto* form = new QFormLayout;
  form->addRow(tr("&Site:"), site_);
  form->addRow(tr("&Category:"), category_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  layout->addWidget(feeds_);
  layout->addWidget(preview_, 1);
  layout->addLayout(form);
  layout->addWidget(buttons);
  resize(560, 420);

  connect(find_, &QPushButton::clicked, this, [this] { Find(1); });
  connect(address_, &QLineEdit::returnPressed, this, [this] { Find(1); });
  connect(feeds_, &QListWidget::currentRowChanged, this, [this](int row) {
    if (row >= 0 && row + 1 != feedNumber_ && !searching()) Find(row + 1);
  });
  connect(add_, &QPushButton::clicked, this, &CAddSiteDialog::Add);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CAddSiteDialog::~CAddSiteDialog() {
  if (process_) {
    process_->disconnect(this);
    process_->kill();
    process_->waitForFinished(2000);
  }
}

void CAddSiteDialog::Run(const QStringList& args, std::function<void(int, const QString&)> done) {
  process_ = new QProcess(this);
  process_->setProcessChannelMode(QProcess::MergedChannels);
  connect(process_, &QProcess::finished, this, [this, done](int code, QProcess::ExitStatus status) {
    const QString output = QString::fromUtf8(process_->readAll());
    process_->deleteLater();
    process_ = nullptr;
    find_->setEnabled(true);
    done(status == QProcess::NormalExit ? code : -1, output);
  });
  connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    process_->deleteLater();
    process_ = nullptr;
    find_->setEnabled(true);
    preview_->setText(tr("Can not run %1. Reinstall ORVO.").arg(program_));
    emit discoveryFinished();
  });
  find_->setEnabled(false);
  add_->setEnabled(false);
  process_->start(program_, QStringList{"site", "add"} + args);
}

void CAddSiteDialog::Find(int feedNumber) {
  const QString address = address_->text().trimmed();
  if (address.isEmpty() || searching()) return;
  feedNumber_ = feedNumber;
  foundAddress_.clear();
  preview_->setText(tr("Looking at %1 ...").arg(address));
  Run({address, "--feed", QString::number(feedNumber), "--dry-run"}, [this, address](int code, const QString& output) {
    if (code == 0) foundAddress_ = address;
    OnFound(code, output);
  });
}

void CAddSiteDialog::OnFound(int code, const QString& output) {
  // The feeds of a page, as orvo lists them: "  2. http://...".
  static const QRegularExpression feedLine(R"(^  (\d+)\. (\S+)(  <- taken)?$)");
  QStringList feeds;
  bool inList = false;
  for (const QString& line : output.split('\n')) {
    if (line.startsWith("The page advertises")) {
      inList = true;
      continue;
    }
    QRegularExpressionMatch m = feedLine.match(line);
    if (!inList || !m.hasMatch()) {
      inList = false;
      continue;
    }
    feeds << m.captured(2);
  }
  feeds_->blockSignals(true);
  feeds_->clear();
  feeds_->addItems(feeds);
  if (feedNumber_ - 1 < feeds_->count()) feeds_->setCurrentRow(feedNumber_ - 1);
  feeds_->setVisible(feeds.size() > 1);
  feeds_->blockSignals(false);
  preview_->setText(output.trimmed());
  if (code == 0 && site_->text().trimmed().isEmpty()) {
    static const QRegularExpression title(R"re(Found the feed "(.*)" \()re");
    QRegularExpressionMatch m = title.match(output);
    if (m.hasMatch()) site_->setText(m.captured(1));
  }
  add_->setEnabled(code == 0);
  emit discoveryFinished();
}

void CAddSiteDialog::Add() {
  if (foundAddress_.isEmpty() || searching()) return;
  QStringList args = {foundAddress_, "--feed", QString::number(feedNumber_)};
  if (!site_->text().trimmed().isEmpty()) args << "--site" << site_->text().trimmed();
  if (!category_->text().trimmed().isEmpty()) args << "--category" << category_->text().trimmed();
  Run(args, [this](int code, const QString& output) {
    if (code == 0) {
      added_ = true;
      accept();
      return;
    }
    preview_->setText(output.trimmed());
    add_->setEnabled(true);
    QMessageBox::warning(this, windowTitle(),
                         CAddSiteDialog::tr("Nothing was added. %1").arg(output.trimmed().section('\n', -1)));
  });
}

bool ImportOpmlWithDialog(Vault& vault, QWidget* parent, const QString& file) {
  const QString path = file.isEmpty() ? AskOpenFileName(parent, QObject::tr("Import OPML"), QString(),
                                                        QObject::tr("OPML files (*.opml *.xml);;All files (*)"))
                                      : file;
  if (path.isEmpty()) return false;
  OpmlImport result;
  {
    VaultLock lock(vault.lock);
    Database* db = vault.db.database();
    if (!db) {
      result.error = QObject::tr("The news database is not open.").toStdString();
    } else {
      result = ImportOpmlFile(*db, path.toStdString(), std::time(nullptr));
    }
  }
  if (!result.ok) {
    QMessageBox::warning(parent, QObject::tr("Import OPML"),
                         QObject::tr("%1 Nothing was imported.").arg(Q(result.error)));
    return false;
  }
  QMessageBox::information(parent, QObject::tr("Import OPML"),
                           QObject::tr("%1 feeds were added; %2 that were there already were skipped. Their news "
                                       "come with the next download.")
                               .arg(result.added)
                               .arg(result.skipped));
  return result.added > 0;
}

void ExportOpmlWithDialog(Vault& vault, QWidget* parent, const QString& file) {
  const QString path = file.isEmpty() ? AskSaveFileName(parent, QObject::tr("Export OPML"), "orvo-sites.opml",
                                                        QObject::tr("OPML files (*.opml)"))
                                      : file;
  if (path.isEmpty()) return;
  std::string opml;
  {
    VaultLock lock(vault.lock);
    if (Database* db = vault.db.database()) opml = ExportOpml(*db);
  }
  std::string error;
  if (opml.empty() || !WriteFileAtomically(path.toStdString(), opml, &error))
    QMessageBox::warning(parent, QObject::tr("Export OPML"),
                         QObject::tr("Can not write %1: %2").arg(path, Q(error.empty() ? "no database" : error)));
}

}  // namespace orvo
