// The reader's texts in the user's language: its own translation and Qt's
// (standard buttons, file dialogs), chosen from the system locale.
#pragma once

#include <QLocale>
#include <QString>
#include <QStringList>
#include <QTranslator>

namespace orvo {

// The language, of those the reader has a translation for (`available`, as
// "ru"), to show for a user whose languages are `uiLanguages` in order of
// preference ("ru-RU", "en-US", ...). Empty means English: English comes
// first, or none of the user's languages is translated.
QString ChooseReaderLanguage(const QStringList& uiLanguages, const QStringList& available);

// The languages whose translation is built into the reader.
QStringList ReaderLanguages();

// The locale of the installed translation, for names of days and months
// inside translated texts; C (English names) while the texts are English.
QLocale TextLocale();

class ReaderTranslations {
 public:
  ReaderTranslations() = default;
  ReaderTranslations(const ReaderTranslations&) = delete;
  ReaderTranslations& operator=(const ReaderTranslations&) = delete;
  ~ReaderTranslations() { Remove(); }

  // Installs the translation for `locale` into the application; returns the
  // language used, empty for English.
  QString Install(const QLocale& locale = QLocale::system());
  void Remove();
  // Whether Qt's own texts were found for the language (they are optional).
  bool hasQtTexts() const { return qtInstalled_; }

 private:
  QTranslator own_;
  QTranslator qt_;
  bool ownInstalled_ = false;
  bool qtInstalled_ = false;
};

}  // namespace orvo
