// The reader's file dialogs. They list folders without ever opening a file:
// a look at the content (icons, file types) opens and closes the file, and
// closing any descriptor of the news database drops every lock this process
// holds on it, which lets another program remove the log the reader writes to.
#pragma once

#include <QFileIconProvider>
#include <QString>

#include <string>

class QWidget;

namespace orvo {

// Icons and type names from the name alone.
class NameOnlyIconProvider : public QFileIconProvider {
 public:
  using QFileIconProvider::icon;
  QIcon icon(const QFileInfo& info) const override;
  QString type(const QFileInfo& info) const override;
};

// Empty when cancelled.
QString AskOpenFileName(QWidget* parent, const QString& title, const QString& dir, const QString& filter);
QString AskExistingDirectory(QWidget* parent, const QString& title, const QString& dir);
QString AskSaveFileName(QWidget* parent, const QString& title, const QString& suggested, const QString& filter);

// The database file at `databasePath` or one of its companions (-wal, -shm,
// -journal), also through another name of the same file.
bool IsDatabaseFile(const QString& path, const std::string& databasePath);

}  // namespace orvo
