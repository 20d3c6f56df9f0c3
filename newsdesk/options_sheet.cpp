#include "options_sheet.h"

#include "database.h"
#include "pair_health.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

#include "check_trees.h"
#include "desktop_notifier.h"
#include "eventlog.h"
#include "file_dialogs.h"
#include "secret_store.h"
#include "settings.h"
#ifdef ORVO_HAVE_SCHEDULE
#include "schedule_page.h"
#endif

namespace orvo {

namespace {
QSpinBox* Spin(QWidget* parent, int max) {
  auto* s = new QSpinBox(parent);
  s->setRange(0, max);
  return s;
}
QLabel* Heading(const QString& text, QWidget* parent) {
  auto* l = new QLabel(text, parent);
  QFont f = l->font();
  f.setBold(true);
  l->setFont(f);
  return l;
}
// A setting read as text and converted the usual way: no digits gives 0.
int ReadNumber(const Settings& s, const char* section, const char* key) { return s.ReadInt(section, key, 0); }
}  // namespace

// --- OptionsPage -------------------------------------------------------------

void OptionsPage::EnsureLoaded() {
  if (loaded_) return;
  loaded_ = true;
  loading_ = true;
  Load();
  loading_ = false;
  SetModified(false);
}

void OptionsPage::SetModified(bool on) {
  if (modified_ == on) return;
  modified_ = on;
  emit modifiedChanged(on);
}

void OptionsPage::ApplyIfLoaded() {
  if (!loaded_) return;
  Apply();
  SetModified(false);
}

void OptionsPage::showEvent(QShowEvent* event) {
  EnsureLoaded();
  QWidget::showEvent(event);
}

void OptionsPage::Watch(QSpinBox* spin) {
  connect(spin, &QSpinBox::valueChanged, this, [this, spin] {
    if (!loaded_ || loading_) return;
    SetModified();
    auto it = stored_.find(spin);
    if (it != stored_.end() && !it->second.edited) {
      it->second.edited = true;
      spin->setToolTip(QString());
    }
  });
}

void OptionsPage::ShowStored(QSpinBox* spin, int value) {
  stored_[spin] = Stored{value, false};
  spin->setValue(value);
  spin->setToolTip(spin->value() == value
                       ? QString()
                       : tr("The stored value %1 is kept until you change it.").arg(value));
}

int OptionsPage::ValueToWrite(QSpinBox* spin) const {
  auto it = stored_.find(spin);
  return it != stored_.end() && !it->second.edited ? it->second.value : spin->value();
}
void OptionsPage::Watch(QCheckBox* box) {
  connect(box, &QCheckBox::toggled, this, [this] { if (loaded_) SetModified(); });
}
void OptionsPage::Watch(QLineEdit* edit) {
  connect(edit, &QLineEdit::textEdited, this, [this] { if (loaded_) SetModified(); });
}

// --- Sites/Categories ----------------------------------------------------------

COptionsSitesPage::COptionsSitesPage(Vault& vault, std::function<bool()> downloadRunning, QWidget* parent)
    : OptionsPage(parent), vault_(vault), downloadRunning_(std::move(downloadRunning)) {
  auto* text = new QLabel(tr("Choose the sites and the categories whose news you want, then press \"Start "
                             "download\". A category ticked under the categories list is ticked for every site "
                             "that has it."),
                          this);
  text->setWordWrap(true);
  sites_ = new QTreeWidget(this);
  sites_->setObjectName("SitesTree");
  categories_ = new QTreeWidget(this);
  categories_->setObjectName("CategoriesTree");
  allSites_ = new QCheckBox(tr("All"), this);
  allCategories_ = new QCheckBox(tr("All"), this);
  trees_ = new CheckTrees(sites_, categories_, allSites_, allCategories_, this);
  // The engine takes any number of days; 0 means no limit.
  days_ = Spin(this, std::numeric_limits<int>::max());
  days_->setSpecialValueText(tr("no limit"));
  start_ = new QPushButton(tr("Start download"), this);
  Watch(days_);
  connect(trees_, &CheckTrees::changed, this, [this] {
    SetModified();
    UpdateStartButton();
  });
  connect(start_, &QPushButton::clicked, this, &COptionsSitesPage::startDownloadRequested);

  sites_->setAccessibleName(tr("Sites"));
  categories_->setAccessibleName(tr("Categories"));
  auto* sitesLabel = new QLabel(tr("Sites:"));
  sitesLabel->setBuddy(sites_);
  auto* categoriesLabel = new QLabel(tr("Categories:"));
  categoriesLabel->setBuddy(categories_);
  auto* grid = new QGridLayout;
  grid->addWidget(sitesLabel, 0, 0);
  grid->addWidget(allSites_, 0, 1, Qt::AlignRight);
  grid->addWidget(sites_, 1, 0, 1, 2);
  grid->addWidget(categoriesLabel, 0, 2);
  grid->addWidget(allCategories_, 0, 3, Qt::AlignRight);
  grid->addWidget(categories_, 1, 2, 1, 2);
  auto* bottom = new QHBoxLayout;
  auto* daysLabel = new QLabel(tr("Do not download news older than"));
  daysLabel->setBuddy(days_);
  bottom->addWidget(daysLabel);
  bottom->addWidget(days_);
  auto* daysUnit = new QLabel(tr("days"));
  daysUnit->setBuddy(days_);
  bottom->addWidget(daysUnit);
  bottom->addStretch();
  bottom->addWidget(start_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addLayout(grid, 1);
  layout->addLayout(bottom);
  start_->setEnabled(false);
}

void COptionsSitesPage::Load() {
  {
    VaultLock lock(vault_.lock);
    trees_->Load(vault_.db, 0, true);
    if (Database* db = vault_.db.database()) MarkBrokenPairs(*db, sites_);
  }
  sites_->expandAll();
  ShowStored(days_, ReadNumber(Settings::Shared(), kDownloadSection, "Days"));
  UpdateStartButton();
}

void COptionsSitesPage::UpdateStartButton() {
  start_->setEnabled(trees_->AnyChecked() && !(downloadRunning_ && downloadRunning_()));
}

void COptionsSitesPage::Apply() {
  auto split = [](const std::vector<CheckTrees::Pair>& pairs, std::vector<int32_t>* cats,
                  std::vector<int32_t>* sites) {
    for (const auto& p : pairs) {
      cats->push_back(p.first);
      sites->push_back(p.second);
    }
  };
  std::vector<int32_t> onCats, onSites, offCats, offSites;
  split(trees_->Pairs(true), &onCats, &onSites);
  split(trees_->Pairs(false), &offCats, &offSites);
  {
    VaultLock lock(vault_.lock);
    vault_.db.UpdateCategories(onCats.data(), onSites.data(), static_cast<int>(onCats.size()), true);
    vault_.db.UpdateCategories(offCats.data(), offSites.data(), static_cast<int>(offCats.size()), false);
  }
  Settings::Shared().WriteInt(kDownloadSection, "Days", ValueToWrite(days_));
}

// --- CleanUp -------------------------------------------------------------------

COptionsCleanupPage::COptionsCleanupPage(QWidget* parent) : OptionsPage(parent) {
  deleteOlder_ = new QCheckBox(tr("Delete news older than"), this);
  const char* labels[] = {QT_TR_NOOP("Month:"), QT_TR_NOOP("Days:"), QT_TR_NOOP("Hours:"), QT_TR_NOOP("Minutes:")};
  auto* form = new QFormLayout;
  for (const char* l : labels) {
    spins_.push_back(Spin(this, 100));
    form->addRow(tr(l), spins_.back());
    Watch(spins_.back());
  }
  deleteLit_ = new QCheckBox(tr("Delete all .lit files"), this);
  Watch(deleteOlder_);
  Watch(deleteLit_);
  connect(deleteOlder_, &QCheckBox::toggled, this, &COptionsCleanupPage::UpdateEnabled);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(tr("Delete outdated news"), this));
  layout->addWidget(deleteOlder_);
  layout->addLayout(form);
  layout->addWidget(deleteLit_);
  layout->addStretch();
  UpdateEnabled();
}

void COptionsCleanupPage::UpdateEnabled() {
  // Greyed out, not cleared: the values are still written on apply.
  bool on = deleteOlder_->isChecked();
  for (QSpinBox* s : spins_) s->setEnabled(on);
  deleteLit_->setEnabled(on);
}

namespace {
const char* const kCleanupKeys[] = {"Month", "Day", "Hour", "Minute"};
}

void COptionsCleanupPage::Load() {
  Settings s = Settings::Shared();
  deleteOlder_->setChecked(ReadNumber(s, kCleanupSection, "DeleteOlder") != 0);
  for (size_t i = 0; i < spins_.size(); ++i) ShowStored(spins_[i], ReadNumber(s, kCleanupSection, kCleanupKeys[i]));
  deleteLit_->setChecked(ReadNumber(s, kCleanupSection, "DeleteLit") != 0);
  UpdateEnabled();
}

void COptionsCleanupPage::Apply() {
  Settings s = Settings::Shared();
  s.WriteInt(kCleanupSection, "DeleteOlder", deleteOlder_->isChecked() ? 1 : 0);
  for (size_t i = 0; i < spins_.size(); ++i) s.WriteInt(kCleanupSection, kCleanupKeys[i], ValueToWrite(spins_[i]));
  s.WriteInt(kCleanupSection, "DeleteLit", deleteLit_->isChecked() ? 1 : 0);
}

// --- Miscellaneous --------------------------------------------------------------

COptionsFontsPage::COptionsFontsPage(QWidget* parent) : OptionsPage(parent) {
  loadImages_ = new QCheckBox(tr("Download images"), this);
  timeout_ = Spin(this, 900);
  maxNews_ = Spin(this, 900);
  bookFormat_ = new QComboBox(this);
  bookFormat_->addItem(tr(".lit (Microsoft Reader)"), QStringLiteral("lit"));
  bookFormat_->addItem(tr(".epub"), QStringLiteral("epub"));
  bookFormat_->addItem(tr("Both .lit and .epub"), QStringLiteral("both"));
  connect(bookFormat_, &QComboBox::currentIndexChanged, this, [this] { if (loaded()) SetModified(); });
  markRead_ = Spin(this, 900);
  filterApply_ = new QCheckBox(tr("Apply selected filter after news download"), this);
  autoCheck_ = new QCheckBox(tr("Always tick off your categories selection in news source updates"), this);
  notify_ = new QCheckBox(tr("Notify the desktop when a run brings new items"), this);
  for (QCheckBox* b : {loadImages_, filterApply_, autoCheck_, notify_}) Watch(b);
  for (QSpinBox* s : {timeout_, maxNews_, markRead_}) Watch(s);
  auto* form = new QFormLayout;
  form->addRow(loadImages_);
  form->addRow(tr("Connection timeout (seconds):"), timeout_);
  form->addRow(tr("Maximum news per one lit file"), maxNews_);
  form->addRow(tr("eBook format:"), bookFormat_);
  form->addRow(tr("Mark news as read after (seconds):"), markRead_);
  form->addRow(filterApply_);
  form->addRow(autoCheck_);
  form->addRow(notify_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(tr("Miscellaneous settings"), this));
  layout->addLayout(form);
  layout->addWidget(DeliveryBox());
  layout->addStretch();
}

QWidget* COptionsFontsPage::DeliveryBox() {
  auto* box = new QGroupBox(tr("Delivery to the reader's device"), this);
  copyToReader_ = new QCheckBox(tr("Copy new eBooks to a connected e-reader (Kobo, PocketBook)"), box);
  readerFolder_ = new QLineEdit(box);
  readerFolder_->setPlaceholderText(tr("a folder on another drive, if any"));
  auto* browse = new QPushButton(tr("Browse..."), box);
  connect(browse, &QPushButton::clicked, this, [this] {
    QString dir = AskExistingDirectory(this, tr("Folder for the eBooks on the device"), readerFolder_->text());
    if (dir.isEmpty()) return;
    readerFolder_->setText(dir);
    SetModified();
  });
  mailAfterRun_ = new QCheckBox(tr("Mail new eBooks to a device address (Send to Kindle)"), box);
  mailTo_ = new QLineEdit(box);
  mailFrom_ = new QLineEdit(box);
  smtpServer_ = new QLineEdit(box);
  smtpServer_->setPlaceholderText(QStringLiteral("smtps://smtp.example.org"));
  smtpUser_ = new QLineEdit(box);
  mailPassword_ = new QLineEdit(box);
  mailPassword_->setEchoMode(QLineEdit::Password);
  mailPassword_->setPlaceholderText(tr("kept in the desktop's Secret Service"));
  mailLimit_ = Spin(box, 1000);
  mailLimit_->setMinimum(1);
  for (QCheckBox* b : {copyToReader_, mailAfterRun_}) Watch(b);
  for (QLineEdit* e : {readerFolder_, mailTo_, mailFrom_, smtpServer_, smtpUser_, mailPassword_}) Watch(e);
  Watch(mailLimit_);
  auto* folder = new QHBoxLayout;
  folder->addWidget(readerFolder_);
  folder->addWidget(browse);
  auto* form = new QFormLayout(box);
  form->addRow(copyToReader_);
  // A label beside a row of two widgets names its field itself.
  auto* folderLabel = new QLabel(tr("Other drive's folder:"), box);
  folderLabel->setBuddy(readerFolder_);
  form->addRow(folderLabel, folder);
  form->addRow(mailAfterRun_);
  form->addRow(tr("Device address:"), mailTo_);
  form->addRow(tr("Sender address:"), mailFrom_);
  form->addRow(tr("Mail server:"), smtpServer_);
  form->addRow(tr("Login:"), smtpUser_);
  form->addRow(tr("Password:"), mailPassword_);
  form->addRow(tr("Largest mail (MB):"), mailLimit_);
  return box;
}

void COptionsFontsPage::LoadDelivery(const Settings& s) {
  copyToReader_->setChecked(s.ReadInt(kDeliverySection, "CopyToReader", 0) == 1);
  readerFolder_->setText(QString::fromStdString(s.ReadText(kDeliverySection, "ReaderFolder", "", kPathBuffer)));
  mailAfterRun_->setChecked(s.ReadInt(kDeliverySection, "MailAfterRun", 0) == 1);
  mailTo_->setText(QString::fromStdString(s.ReadText(kDeliverySection, "MailTo", "")));
  mailFrom_->setText(QString::fromStdString(s.ReadText(kDeliverySection, "MailFrom", "")));
  smtpServer_->setText(QString::fromStdString(s.ReadText(kDeliverySection, "SmtpServer", "")));
  smtpUser_->setText(QString::fromStdString(s.ReadText(kDeliverySection, "SmtpUser", "")));
  mailPassword_->clear();
  ShowStored(mailLimit_, s.ReadInt(kDeliverySection, "MailLimitMB", 25));
}

void COptionsFontsPage::ApplyDelivery(const Settings& s) {
  s.WriteInt(kDeliverySection, "CopyToReader", copyToReader_->isChecked() ? 1 : 0);
  s.WriteText(kDeliverySection, "ReaderFolder", readerFolder_->text().trimmed().toStdString());
  s.WriteInt(kDeliverySection, "MailAfterRun", mailAfterRun_->isChecked() ? 1 : 0);
  const std::pair<const char*, QLineEdit*> texts[] = {
      {"MailTo", mailTo_}, {"MailFrom", mailFrom_}, {"SmtpServer", smtpServer_}, {"SmtpUser", smtpUser_}};
  for (const auto& [key, edit] : texts) s.WriteText(kDeliverySection, key, edit->text().simplified().toStdString());
  s.WriteInt(kDeliverySection, "MailLimitMB", ValueToWrite(mailLimit_));
  // The password goes only to the Secret Service, and only when typed.
  const QString password = mailPassword_->text();
  mailPassword_->clear();
  if (password.isEmpty()) return;
  const std::string server = SmtpUrl(smtpServer_->text().simplified().toStdString()),
                    user = smtpUser_->text().simplified().toStdString();
  std::string error;
  if (user.empty() || smtpServer_->text().simplified().isEmpty())
    error = tr("Give the mail server and the login with the password.").toStdString();
  else if (StoreMailPassword(server, user, password.toStdString(), &error))
    return;
  QMessageBox::warning(this, tr("Mail password"),
                       tr("The mail password was not kept: %1").arg(QString::fromStdString(error)));
}

void COptionsFontsPage::Load() {
  Settings s = Settings::Shared();
  loadImages_->setChecked(s.ReadInt(kDownloadSection, "LoadImages", 1) != 0);
  ShowStored(timeout_, s.ReadInt(kDownloadSection, "ConnectTimeout", 300));
  ShowStored(maxNews_, s.ReadInt(kSystemSection, "MaxNewsPerLit", 30));
  const int format = bookFormat_->findData(
      QString::fromStdString(s.ReadText(kSystemSection, "BookFormat", "lit")).trimmed().toLower());
  bookFormat_->setCurrentIndex(format < 0 ? 0 : format);
  ShowStored(markRead_, s.ReadInt(kSystemSection, "MarkReadTime", 3));
  filterApply_->setChecked(s.ReadInt(kSystemSection, "FilterApply", 1) != 0);
  autoCheck_->setChecked(s.ReadInt(kSystemSection, "AutoCheck", 1) != 0);
  notify_->setChecked(s.ReadInt(kSystemSection, kNotifyKey, 1) != 0);
  LoadDelivery(s);
}

void COptionsFontsPage::Apply() {
  Settings s = Settings::Shared();
  s.WriteInt(kDownloadSection, "LoadImages", loadImages_->isChecked() ? 1 : 0);
  s.WriteInt(kDownloadSection, "ConnectTimeout", ValueToWrite(timeout_));
  s.WriteInt(kSystemSection, "MaxNewsPerLit", ValueToWrite(maxNews_));
  s.WriteText(kSystemSection, "BookFormat", bookFormat_->currentData().toString().toStdString());
  s.WriteInt(kSystemSection, "MarkReadTime", ValueToWrite(markRead_));
  s.WriteInt(kSystemSection, "FilterApply", filterApply_->isChecked() ? 1 : 0);
  s.WriteInt(kSystemSection, "AutoCheck", autoCheck_->isChecked() ? 1 : 0);
  s.WriteInt(kSystemSection, kNotifyKey, notify_->isChecked() ? 1 : 0);
  ApplyDelivery(s);
  emit settingsWritten();
}

// --- System ----------------------------------------------------------------------

COptionsSystemPage::COptionsSystemPage(QWidget* parent) : OptionsPage(parent) {
  pathDb_ = new QLineEdit(this);
  pathPc_ = new QLineEdit(this);
  downloadUpdates_ = new QCheckBox(tr("Download site template updates"), this);
  url_ = new QLineEdit(this);
  useProxy_ = new QCheckBox(tr("Use a proxy server for your LAN"), this);
  proxyAddress_ = new QLineEdit(this);
  proxyPort_ = new QLineEdit(this);
  for (QLineEdit* e : {pathDb_, pathPc_, url_, proxyAddress_, proxyPort_}) Watch(e);
  for (QCheckBox* b : {downloadUpdates_, useProxy_}) Watch(b);
  connect(useProxy_, &QCheckBox::toggled, this, &COptionsSystemPage::UpdateEnabled);
  connect(downloadUpdates_, &QCheckBox::toggled, this, &COptionsSystemPage::UpdateEnabled);

  auto* browseDb = new QPushButton(tr("Browse..."), this);
  auto* browsePc = new QPushButton(tr("Browse..."), this);
  connect(browseDb, &QPushButton::clicked, this, [this] {
    QString path = AskOpenFileName(this, tr("News database"), pathDb_->text(),
                                   tr("News databases (*.db *.sqlite *.mdb);;All files (*)"));
    if (path.isEmpty()) return;
    pathDb_->setText(path);
    SetModified();
  });
  connect(browsePc, &QPushButton::clicked, this, [this] {
    QString dir = AskExistingDirectory(this, tr("Folder for the eBook files"), pathPc_->text());
    if (dir.isEmpty()) return;
    pathPc_->setText(dir);
    SetModified();
  });

  auto labelFor = [this](const QString& text, QWidget* field) {
    auto* label = new QLabel(text, this);
    label->setBuddy(field);
    return label;
  };
  auto* grid = new QGridLayout;
  grid->addWidget(labelFor(tr("Path to DB:"), pathDb_), 0, 0);
  grid->addWidget(pathDb_, 0, 1);
  grid->addWidget(browseDb, 0, 2);
  grid->addWidget(labelFor(tr("Path to Pocket PC folder:"), pathPc_), 1, 0);
  grid->addWidget(pathPc_, 1, 1);
  grid->addWidget(browsePc, 1, 2);
  grid->addWidget(downloadUpdates_, 2, 0, 1, 3);
  grid->addWidget(labelFor(tr("Updates server URL:"), url_), 3, 0);
  grid->addWidget(url_, 3, 1, 1, 2);
  auto* proxy = new QGroupBox(this);
  auto* proxyLayout = new QGridLayout(proxy);
  proxyLayout->addWidget(useProxy_, 0, 0, 1, 4);
  proxyLayout->addWidget(labelFor(tr("Address:"), proxyAddress_), 1, 0);
  proxyLayout->addWidget(proxyAddress_, 1, 1);
  proxyLayout->addWidget(labelFor(tr("Port:"), proxyPort_), 1, 2);
  proxyLayout->addWidget(proxyPort_, 1, 3);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(tr("System settings"), this));
  layout->addLayout(grid);
  layout->addWidget(proxy);
  layout->addStretch();
  UpdateEnabled();
}

void COptionsSystemPage::UpdateEnabled() {
  proxyAddress_->setEnabled(useProxy_->isChecked());
  proxyPort_->setEnabled(useProxy_->isChecked());
  // The address stays editable: it is needed again once updates are switched on.
  url_->setEnabled(true);
}

void COptionsSystemPage::Load() {
  Settings s = Settings::Shared();
  pathDb_->setText(QString::fromStdString(s.ReadText(kSystemSection, "PathDB", "", kReaderBuffer)));
  pathPc_->setText(QString::fromStdString(s.ReadText(kSystemSection, "PathPC", "", kPathBuffer)));
  // Missing, the engine brings the catalogue up to date: the box says so.
  downloadUpdates_->setChecked(s.ReadInt(kSystemSection, "DownloadUpdates", 1) != 0);
  url_->setText(QString::fromStdString(s.ReadText(kSystemSection, "DownloadURL", "", kReaderBuffer)));
  useProxy_->setChecked(s.ReadInt(kSystemSection, "UseProxy", 0) != 0);
  proxyAddress_->setText(QString::fromStdString(s.ReadText(kSystemSection, "ProxyAddress")));
  proxyPort_->setText(QString::fromStdString(s.ReadText(kSystemSection, "ProxyPort")));
  UpdateEnabled();
}

void COptionsSystemPage::Apply() {
  Settings s = Settings::Shared();
  s.WriteText(kSystemSection, "PathDB", pathDb_->text().toStdString());
  s.WriteText(kSystemSection, "PathPC", pathPc_->text().toStdString());
  s.WriteInt(kSystemSection, "DownloadUpdates", downloadUpdates_->isChecked() ? 1 : 0);
  s.WriteText(kSystemSection, "DownloadURL", url_->text().toStdString());
  s.WriteInt(kSystemSection, "UseProxy", useProxy_->isChecked() ? 1 : 0);
  s.WriteText(kSystemSection, "ProxyAddress", proxyAddress_->text().toStdString());
  s.WriteText(kSystemSection, "ProxyPort", proxyPort_->text().toStdString());
}

// --- Log -----------------------------------------------------------------------------

COptionsPLogPage::COptionsPLogPage(QWidget* parent) : OptionsPage(parent) {
  events_ = new QPlainTextEdit(this);
  events_->setReadOnly(true);
  events_->setLineWrapMode(QPlainTextEdit::NoWrap);
  clear_ = new QPushButton(tr("Clear log"), this);
  connect(clear_, &QPushButton::clicked, this, &COptionsPLogPage::ClearLog);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Heading(tr("News downloader, parser and .lit generator events"), this));
  auto* eventsLabel = new QLabel(tr("Events:"));
  eventsLabel->setBuddy(events_);
  layout->addWidget(eventsLabel);
  layout->addWidget(events_, 1);
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(clear_);
  layout->addLayout(row);
}

COptionsPLogPage::~COptionsPLogPage() = default;

QString COptionsPLogPage::LogPath() { return QString::fromStdString(EventLogPath()); }

void COptionsPLogPage::Load() {
  // The folder is watched as well as the file: the file may not exist yet, and
  // a writer that replaces it leaves a watch on the old one behind.
  watcher_ = new QFileSystemWatcher(this);
  watcher_->addPath(QFileInfo(LogPath()).absolutePath());
  if (QFile::exists(LogPath())) watcher_->addPath(LogPath());
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
    if (!watcher_->files().contains(LogPath()) && QFile::exists(LogPath())) watcher_->addPath(LogPath());
    Reload();
  });
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] {
    if (!watcher_->files().contains(LogPath()) && QFile::exists(LogPath())) watcher_->addPath(LogPath());
    Reload();
  });
  Reload();
}

void COptionsPLogPage::Reload() {
  QFile file(LogPath());
  if (!file.open(QIODevice::ReadOnly)) return;  // missing or locked: keep what is shown
  QApplication::setOverrideCursor(Qt::WaitCursor);
  qint64 size = file.size();
  if (size > kShownBytes) file.seek(size - kShownBytes);
  QByteArray bytes;
  while (!file.atEnd()) {
    QByteArray block = file.read(1024);
    if (block.isEmpty()) break;
    bytes += block;
  }
  events_->setPlainText(QString::fromUtf8(bytes));
  events_->verticalScrollBar()->setValue(events_->verticalScrollBar()->maximum());
  QApplication::restoreOverrideCursor();
}

void COptionsPLogPage::ClearLog() {
  QFile file(LogPath());
  if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.close();
  Reload();
}

// --- The sheet --------------------------------------------------------------------------

COptionsPropSheet::COptionsPropSheet(Vault& vault, std::function<bool()> downloadRunning, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(tr("Options"));
  setObjectName("COptionsPropSheet");
  tabs_ = new QTabWidget(this);
  sites_ = new COptionsSitesPage(vault, downloadRunning, this);
  misc_ = new COptionsFontsPage(this);
  pages_.push_back(sites_);
  tabs_->addTab(sites_, tr("Sites/Categories"));
#ifdef ORVO_HAVE_SCHEDULE
  pages_.push_back(new CScheduleEditorPage(CScheduleEditorPage::kParser, this));
  tabs_->addTab(pages_.back(), tr("Parser Schedule"));
  pages_.push_back(new CScheduleEditorPage(CScheduleEditorPage::kLitGenerator, this));
  tabs_->addTab(pages_.back(), tr("PocketPC files generator schedule"));
#endif
  pages_.push_back(new COptionsCleanupPage(this));
  tabs_->addTab(pages_.back(), tr("CleanUp"));
  pages_.push_back(misc_);
  tabs_->addTab(misc_, tr("Miscellaneous"));
  pages_.push_back(new COptionsSystemPage(this));
  tabs_->addTab(pages_.back(), tr("System"));
  pages_.push_back(new COptionsPLogPage(this));
  tabs_->addTab(pages_.back(), tr("ORVO Log"));

  buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
  connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
    ApplyAll();
    accept();
  });
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(applyButton(), &QPushButton::clicked, this, &COptionsPropSheet::ApplyAll);
  for (OptionsPage* p : pages_) connect(p, &OptionsPage::modifiedChanged, this, &COptionsPropSheet::UpdateApply);
  connect(misc_, &COptionsFontsPage::settingsWritten, this, &COptionsPropSheet::settingsWritten);
  // Start download: the selection is applied first, then the download starts.
  connect(sites_, &COptionsSitesPage::startDownloadRequested, this, [this] {
    ApplyAll();
    emit startDownloadRequested();
    accept();
  });

  // Every tab in sight, none behind scroll arrows: the sheet is as wide as its tabs.
  tabs_->setUsesScrollButtons(false);
  tabs_->setElideMode(Qt::ElideNone);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(tabs_);
  layout->addWidget(buttons_);
  resize(std::max(680, layout->sizeHint().width()), 500);
  UpdateApply();
}

QPushButton* COptionsPropSheet::applyButton() const { return buttons_->button(QDialogButtonBox::Apply); }
QPushButton* COptionsPropSheet::okButton() const { return buttons_->button(QDialogButtonBox::Ok); }

void COptionsPropSheet::UpdateApply() {
  bool any = false;
  for (OptionsPage* p : pages_) any = any || p->modified();
  applyButton()->setEnabled(any);
}

void COptionsPropSheet::ApplyAll() {
  for (OptionsPage* p : pages_) p->ApplyIfLoaded();
  UpdateApply();
}

}  // namespace orvo
