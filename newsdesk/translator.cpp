#include "translator.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>

namespace orvo {

namespace {
// Where the build puts the compiled translations (the program's resources).
const char* const kTranslationsFolder = ":/i18n";
const char* const kPrefix = "newsdesk_";
// The language of the installed translation; empty for English.
QString g_textLanguage;
}  // namespace

QLocale TextLocale() { return g_textLanguage.isEmpty() ? QLocale::c() : QLocale(g_textLanguage); }

QString ChooseReaderLanguage(const QStringList& uiLanguages, const QStringList& available) {
  for (const QString& tag : uiLanguages) {
    QLocale l(tag);
    // The texts are written in English: a user who puts it first gets them.
    if (l.language() == QLocale::English || l.language() == QLocale::C) return QString();
    // "pt_BR" before "pt": a regional translation wins over the language's.
    QString name = l.name();
    if (available.contains(name)) return name;
    QString language = name.section('_', 0, 0);
    if (available.contains(language)) return language;
  }
  return QString();
}

QStringList ReaderLanguages() {
  QStringList languages;
  const QStringList files = QDir(kTranslationsFolder).entryList({QString(kPrefix) + "*.qm"}, QDir::Files);
  for (const QString& f : files) languages << f.mid(int(qstrlen(kPrefix))).chopped(3);
  return languages;
}

QString ReaderTranslations::Install(const QLocale& locale) {
  Remove();
  QString language = ChooseReaderLanguage(locale.uiLanguages(), ReaderLanguages());
  if (language.isEmpty()) return QString();
  if (!own_.load(kPrefix + language, kTranslationsFolder)) return QString();
  // Qt's own texts are a separate package; without them the standard buttons
  // stay English and the rest is still translated.
  const QString qtFolder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  qtInstalled_ =
      qt_.load("qtbase_" + language, qtFolder) || qt_.load("qtbase_" + language.section('_', 0, 0), qtFolder);
  if (qtInstalled_) QCoreApplication::installTranslator(&qt_);
  ownInstalled_ = QCoreApplication::installTranslator(&own_);
  if (ownInstalled_) g_textLanguage = language;
  return language;
}

void ReaderTranslations::Remove() {
  if (ownInstalled_) {
    QCoreApplication::removeTranslator(&own_);
    g_textLanguage.clear();
  }
  if (qtInstalled_) QCoreApplication::removeTranslator(&qt_);
  ownInstalled_ = qtInstalled_ = false;
}

}  // namespace orvo
