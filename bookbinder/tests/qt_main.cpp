// The run reports through queued signals, so the tests need an event loop;
// the EPUB covers need a QGuiApplication for their text.
#include <QGuiApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
