// CNewsDetailView: the news text of the selected item, rendered with its
// images, with copy, find, print, print preview, save as and five text sizes.
#pragma once

#include <QTextBrowser>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "vault.h"

class QAction;
class QActionGroup;
class QMenu;
class QPagedPaintDevice;
class QTextDocument;

namespace orvo {

class CNewsInfoView;
class FindDialog;

// Loads one item after it stayed selected for 100 ms, on its own thread; a
// newer load cancels it.
class CNewsDetailLoaderThread {
 public:
  struct Result {
    std::optional<CNewsInfoItemStruct> info;
    std::optional<CNewsDetailItemStruct> detail;
  };
  using Deliver = std::function<void(Result)>;

  CNewsDetailLoaderThread(Vault& vault, int32_t id, int delayMs, Deliver deliver);
  ~CNewsDetailLoaderThread();  // cancels and waits
  void Cancel();

 private:
  void Run(Vault& vault, int32_t id, int delayMs, Deliver deliver);
  std::mutex mutex_;
  std::condition_variable cv_;
  bool wanted_ = true;
  std::thread thread_;
};

class CNewsDetailView : public QWidget {
  Q_OBJECT
 public:
  CNewsDetailView(Vault& vault, CNewsInfoView* info, QWidget* parent = nullptr);
  ~CNewsDetailView() override;

  // Loads the item into the information bar and the text.
  void Load(int32_t id);
  // Empties the text and the information bar.
  void Clear();

  QTextBrowser* browser() const { return browser_; }
  const std::string& bodyText() const { return body_; }
  int textSize() const { return textSize_; }
  void SetTextSize(int size);  // 0 smallest .. 4 largest, kept in ORVO.ini
  int loadsDelivered() const { return delivered_; }

  // Commands of the text pane.
  void Copy();
  void SelectAll();
  void FindInText();
  void Print();
  void PrintPreview();
  void SaveAs();
  // The shown news laid out for `printer`'s pages, as Print and Print
  // Preview put it on paper.
  std::unique_ptr<QTextDocument> PrintDocument(QPagedPaintDevice* printer) const;
  // Writes the shown news as a web page, or as text for a ".txt" name.
  bool SaveTo(const QString& path, QString* error);

  // The five text-size actions (exclusive), for the menus.
  QList<QAction*> textSizeActions() const;
  QMenu* contextMenu() const { return menu_; }
  void SetContextMenu(QMenu* menu) { menu_ = menu; }

  // Delay before a selected item is loaded; tests may shorten it.
  void setLoadDelay(int ms) { loadDelayMs_ = ms; }

 signals:
  // After a new item was shown (tests, status).
  void itemShown(int32_t id);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void ShowPage();
  void Deliver(uint64_t seq, int32_t id, CNewsDetailLoaderThread::Result result);
  void Render(bool withImages);
  void ApplyTextSize();

  Vault& vault_;
  CNewsInfoView* info_;
  QTextBrowser* browser_;
  QMenu* menu_ = nullptr;
  QActionGroup* sizes_;
  FindDialog* find_ = nullptr;
  std::unique_ptr<CNewsDetailLoaderThread> loader_;
  uint64_t seq_ = 0;
  std::string body_;
  QString page_;  // what the browser shows, for printing
  CNewsDetailItemStruct images_;
  int textSize_ = 2;
  int loadDelayMs_ = 100;
  int delivered_ = 0;
};

}  // namespace orvo
