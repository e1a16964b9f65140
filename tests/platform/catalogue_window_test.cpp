// The catalogue browser's window: each button and key tells its own action,
// and the current cell is the one asked for. No network.
#include <gtest/gtest.h>

#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>

#include <functional>
#include <string>
#include <utility>

#include "platform/catalogue/catalogue_window.h"

namespace {

TEST(CatalogueWindow, ButtonsAndKeysTellTheirActions) {
  int argc = 1;
  char name[] = "catalogue_window_tests";
  char* argv[] = {name, nullptr};
  QApplication application(argc, argv);
  std::string told;
  CatalogueWindowActions actions;
  const std::pair<std::function<void()>*, const char*> words[] = {
      {&actions.back, "back"},   {&actions.up, "up"},       {&actions.start, "start"},
      {&actions.previous, "previous"}, {&actions.next, "next"}, {&actions.retry, "retry"},
      {&actions.cancelDownload, "cancel"}, {&actions.closed, "closed"}};
  for (const auto& [action, word] : words) *action = [&told, word = word] { told = word; };
  CatalogueWindow window(actions);
  window.Present();
  CatalogueScreen screen;
  screen.retry = screen.back = screen.up = screen.start = screen.previous = screen.next = true;
  window.Show(screen);
  QWidget* frame = QApplication::topLevelWidgets().value(0);
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(frame));  // shortcuts take keys only there
  const std::pair<const char*, const char*> clicks[] = {{"Back", "back"}, {"Up", "up"}, {"Start", "start"},
                                                        {"Previous page", "previous"}, {"Next page", "next"},
                                                        {"Retry", "retry"}, {"Cancel", "cancel"}};
  for (const auto& [text, word] : clicks) {
    told.clear();
    for (QPushButton* button : frame->findChildren<QPushButton*>())
      if (button->text() == QLatin1String(text)) button->click();
    EXPECT_EQ(told, word) << text;
  }
  const std::pair<Qt::Key, const char*> keys[] = {{Qt::Key_Backspace, "back"}, {Qt::Key_Escape, "closed"}};
  for (const auto& [key, word] : keys) {
    told.clear();
    QTest::keyClick(frame, key);
    EXPECT_EQ(told, word);
  }
  EXPECT_FALSE(window.IsVisible());

  window.SetCells({{u"a", u"a", false}, {u"b", u"b", true}}, 1);
  EXPECT_EQ(window.CurrentRow(), 1);
  window.SetCells({{u"a", u"a", false}}, 5);
  EXPECT_EQ(window.CurrentRow(), -1);
}

}  // namespace
