// Writes a small demo news folder (ORVO.ini, news database, pictures) for
// trying the reader and for its screenshots:
//   newsdesk_demo DIR     then   ORVO_HOME=DIR Newsdesk
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "store/news_items.h"
#include "store/pairs.h"
#include "settings.h"
#include "text.h"

namespace {

using orvo::NewsRecord;

QImage Harbour() {
  QImage img(320, 200, QImage::Format_RGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient sky(0, 0, 0, 120);
  sky.setColorAt(0, QColor(0x8e, 0xc5, 0xf0));
  sky.setColorAt(1, QColor(0xf6, 0xd8, 0xae));
  p.fillRect(0, 0, 320, 130, sky);
  p.fillRect(0, 130, 320, 70, QColor(0x2c, 0x5f, 0x8a));
  p.setBrush(QColor(0xff, 0xe0, 0x80));
  p.setPen(Qt::NoPen);
  p.drawEllipse(QPointF(250, 60), 22, 22);
  // The bridge: deck, two towers and cables.
  p.setPen(QPen(QColor(0x44, 0x44, 0x4c), 6));
  p.drawLine(0, 120, 320, 120);
  p.setPen(QPen(QColor(0x55, 0x55, 0x60), 8));
  p.drawLine(90, 40, 90, 150);
  p.drawLine(230, 40, 230, 150);
  p.setPen(QPen(QColor(0x70, 0x70, 0x78), 2));
  QPainterPath cable;
  cable.moveTo(0, 70);
  cable.quadTo(45, 118, 90, 42);
  cable.quadTo(160, 118, 230, 42);
  cable.quadTo(275, 118, 320, 70);
  p.setBrush(Qt::NoBrush);
  p.drawPath(cable);
  for (int x = 20; x < 320; x += 20) p.drawLine(x, 120, x, 90 + (x % 140 == 0 ? 0 : 10));
  p.setPen(QPen(QColor(0xdd, 0xee, 0xff), 2));
  for (int i = 0; i < 8; ++i) p.drawLine(20 + i * 38, 160 + (i % 3) * 10, 40 + i * 38, 160 + (i % 3) * 10);
  return img;
}

QImage Chart() {
  QImage img(280, 180, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(0xcc, 0xcc, 0xcc), 1));
  for (int y = 30; y <= 150; y += 30) p.drawLine(30, y, 270, y);
  const int values[] = {60, 75, 70, 95, 110, 104, 128};
  for (int i = 0; i < 7; ++i) {
    p.fillRect(40 + i * 32, 150 - values[i], 22, values[i], QColor(0x2a, 0x5d, 0x9f));
  }
  p.setPen(QPen(QColor(0xe8, 0x74, 0x2a), 3));
  for (int i = 0; i < 6; ++i) p.drawLine(51 + i * 32, 140 - values[i], 51 + (i + 1) * 32, 140 - values[i + 1]);
  p.setPen(Qt::black);
  p.drawText(QRect(0, 4, 280, 20), Qt::AlignCenter, "Port traffic, thousand containers");
  return img;
}

QImage Pitch() {
  QImage img(300, 190, QImage::Format_RGB32);
  img.fill(QColor(0x3c, 0x9a, 0x3c));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  for (int x = 0; x < 300; x += 40) p.fillRect(x, 0, 20, 190, QColor(0x44, 0xa6, 0x44));
  p.setPen(QPen(Qt::white, 3));
  p.setBrush(Qt::NoBrush);
  p.drawRect(10, 10, 280, 170);
  p.drawLine(150, 10, 150, 180);
  p.drawEllipse(QPointF(150, 95), 30, 30);
  p.drawRect(10, 55, 40, 80);
  p.drawRect(250, 55, 40, 80);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(200, 80), 6, 6);
  return img;
}

struct Article {
  const char* site;
  const char* category;
  const char* title;
  const char* author;
  int hoursAgo;
  const char* body;
};

const Article kArticles[] = {
    {"Harbour Gazette", "Local", "New tidal bridge opens across the harbour", "Mira Holm", 2,
     "<p>The tidal bridge between the old quay and the ferry terminal opened to walkers and cyclists on "
     "Saturday morning, two months ahead of plan.</p>[[{0}]]<p>Engineers used the spring tides to float the "
     "last deck section into place. The bridge lifts in four minutes to let tall ships through.</p>"
     "<p>&quot;People crossed it before the ribbon was cut,&quot; said the harbour master. Traffic on the port "
     "has grown every year since the new terminal opened.</p>[[{1}]]<p>The council expects the bridge to take "
     "some 6,000 crossings a day in summer.</p>"},
    {"Harbour Gazette", "Business", "Container traffic reaches a record", "Jon Aas", 5,
     "<p>The port handled more containers in the last quarter than in any quarter before.</p>[[{0}]]"
     "<p>Most of the growth came from the two new shipping lines that call every week.</p>"},
    {"Harbour Gazette", "Local", "Fish market moves indoors for the winter", "Mira Holm", 9,
     "<p>From November the Saturday fish market will be held in the old customs hall.</p>"},
    {"Harbour Gazette", "Business", "Shipyard hires forty apprentices", "Jon Aas", 20,
     "<p>The shipyard will take on forty apprentices this autumn, twice as many as last year.</p>"},
    {"Northern Ledger", "Science", "Students track migrating geese with small radios", "Ola Brenn", 3,
     "<p>A school project follows twelve geese on their way south; the data are open to everyone.</p>"},
    {"Northern Ledger", "Culture", "Library opens a room for quiet reading", "Eva Lind", 7,
     "<p>No phones, no talking, and tea for a coin: the new reading room opens on Monday.</p>"},
    {"Northern Ledger", "Science", "Aurora season starts early this year", "Ola Brenn", 26,
     "<p>Strong solar activity brought the first northern lights of the season in late August.</p>"},
    {"Northern Ledger", "Culture", "Folk festival sells out in a day", "Eva Lind", 30,
     "<p>All 3,000 tickets for the folk festival were gone within a day of going on sale.</p>"},
    {"Valley Courier", "Sport", "Valley United win the derby in the last minute", "Tor Vik", 4,
     "<p>A header in the 90th minute gave Valley United a 2-1 win over their neighbours.</p>[[{0}]]"
     "<p>The home side had trailed since the first half.</p>"},
    {"Valley Courier", "Sport", "Ski jump gets new lights", "Tor Vik", 28,
     "<p>The ski jump will host evening competitions from this winter on.</p>"},
    {"Valley Courier", "Local", "Road over the pass closed for repairs", "Kari Dahl", 11,
     "<p>The pass road will be closed on weekdays between 9 and 15 until the end of the month.</p>"},
    {"Valley Courier", "Local", "Valley bakery wins national prize", "Kari Dahl", 50,
     "<p>The rye bread of the small bakery by the station was named the best in the country.</p>"},
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::cerr << "Usage: newsdesk_demo DIR\n"
                 "Writes DIR/ORVO.ini, DIR/news.db and DIR/Images/ with a few demo news items;\n"
                 "then run: ORVO_HOME=DIR Newsdesk\n";
    return argc == 2 ? 0 : 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath("Images")) {
    std::cerr << "newsdesk_demo: cannot create " << argv[1] << "/Images\n";
    return 1;
  }
  std::string root = dir.absolutePath().toStdString();
  std::string dbPath = root + "/news.db";
  if (QFile::exists(QString::fromStdString(dbPath))) {
    std::cerr << "newsdesk_demo: " << dbPath << " exists already; choose an empty folder.\n";
    return 1;
  }
  std::unique_ptr<orvo::Database> db;
  if (int rc = orvo::Database::Open(dbPath, orvo::Database::Mode::kCreate, &db)) {
    std::cerr << "newsdesk_demo: cannot create " << dbPath << " (error " << rc << ")\n";
    return 1;
  }
  const QImage pictures[] = {Harbour(), Chart(), Pitch()};
  const char* names[] = {"harbour-bridge.png", "port-traffic.png", "derby.png"};
  for (int i = 0; i < 3; ++i) pictures[i].save(QString::fromStdString(root + "/Images/" + names[i]));

  std::time_t now = std::time(nullptr);
  int n = 0;
  for (const Article& a : kArticles) {
    NewsRecord r;
    r.pair = orvo::EnsurePair(*db, a.site, a.category, true);
    r.title = a.title;
    r.author = a.author;
    r.published = now - a.hoursAgo * 3600;
    r.body = a.body;
    r.url = "https://" + std::string(a.site[0] == 'H' ? "harbour-gazette" : a.site[0] == 'N' ? "northern-ledger"
                                                                                           : "valley-courier") +
            ".example/news/" + std::to_string(++n) + ".html";
    if (n == 1) {
      r.images = {{0, root + "/Images/" + names[0], "The bridge at low tide, seen from the old quay."},
                  {1, root + "/Images/" + names[1], "Container traffic has grown for seven years in a row."}};
    } else if (n == 2) {
      r.images = {{0, root + "/Images/" + names[1], "Quarterly container traffic."}};
    } else if (n == 9) {
      r.images = {{0, root + "/Images/" + names[2], "The winning header came from a corner."}};
    }
    if (orvo::StoreNews(*db, r) < 0) {
      std::cerr << "newsdesk_demo: cannot store \"" << a.title << "\"\n";
      return 1;
    }
  }
  orvo::Settings settings(root + "/ORVO.ini");
  settings.WriteText(orvo::kSystemSection, "PathDB", dbPath);
  std::cout << "newsdesk_demo: " << n << " news items in " << dbPath << "\nStart the reader with: ORVO_HOME=" << root
            << " Newsdesk\n";
  return 0;
}
