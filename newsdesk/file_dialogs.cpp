#include "file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <sys/stat.h>

namespace orvo {

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
  if (info.isDir()) return icon(QAbstractFileIconProvider::Folder);
  return icon(QAbstractFileIconProvider::File);
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
  if (info.isDir()) return QFileDialog::tr("Folder");
  if (info.suffix().isEmpty()) return QFileDialog::tr("File");
  return QFileDialog::tr("%1 File").arg(info.suffix());
}

namespace {

// The dialog is made on the root folder (a file named at construction is
// looked up at once, with the stock icon provider), then given our provider,
// and only then taken to `place`: a folder, or a file in its folder.
QString Run(QFileDialog& dialog, const QString& place) {
  // The desktop's own dialog would look into the files again.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  NameOnlyIconProvider icons;
  dialog.setIconProvider(&icons);
  QFileInfo info(place);
  if (place.isEmpty()) {
    dialog.setDirectory(QDir::currentPath());
  } else if (info.isDir()) {
    dialog.setDirectory(info.absoluteFilePath());
  } else {
    dialog.setDirectory(info.absolutePath());
    dialog.selectFile(info.fileName());
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().first();
}

}  // namespace

QString AskOpenFileName(QWidget* parent, const QString& title, const QString& dir, const QString& filter) {
  QFileDialog dialog(parent, title, QDir::rootPath(), filter);
  dialog.setObjectName("OpenFileDialog");
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  return Run(dialog, dir);
}

QString AskExistingDirectory(QWidget* parent, const QString& title, const QString& dir) {
  QFileDialog dialog(parent, title, QDir::rootPath());
  dialog.setObjectName("FolderDialog");
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly, true);
  return Run(dialog, dir);
}

QString AskSaveFileName(QWidget* parent, const QString& title, const QString& suggested, const QString& filter) {
  QFileDialog dialog(parent, title, QDir::rootPath(), filter);
  dialog.setObjectName("SaveFileDialog");
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  QFileInfo info(suggested);
  return Run(dialog, info.isAbsolute() ? suggested : QDir::current().filePath(suggested));
}

bool IsDatabaseFile(const QString& path, const std::string& databasePath) {
  if (databasePath.empty() || path.isEmpty()) return false;
  QString db = QString::fromStdString(databasePath);
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    QString companion = db + suffix;
    if (QFileInfo(path).absoluteFilePath() == QFileInfo(companion).absoluteFilePath()) return true;
    // Another name of the same file (a link, another path to the folder).
    struct stat a, b;
    if (::stat(path.toLocal8Bit().constData(), &a) == 0 && ::stat(companion.toLocal8Bit().constData(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino)
      return true;
  }
  return false;
}

}  // namespace orvo
