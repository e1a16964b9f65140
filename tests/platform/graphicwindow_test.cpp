// The graphics engine's window, event pump and clock, on SDL's offscreen
// video driver. SDL is used here only to look at the window and to inject
// events the way a desktop would.
#include <gtest/gtest.h>
#include <SDL2/SDL.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "platform/graphicwindow.h"
#include "platform/mmsystem.h"

// The window is made for OpenGL, which loads Mesa's driver; its allocations
// cannot even be named by LeakSanitizer once the driver is unloaded. Leak
// checks stay off for this program alone; AddressSanitizer's other checks
// stay on.
extern "C" __attribute__((visibility("default"))) int __lsan_is_turned_off() { return 1; }

namespace {

// Every event waiting now. SDL answers "nothing" once per round of its
// pump even with events queued, so the queue is empty at two in a row.
std::vector<GraphicEvent> Drain() {
  std::vector<GraphicEvent> events;
  for (int none = 0; none < 2;) {
    const GraphicEvent event = PollGraphicEvent();
    if (event == GraphicEvent::None) {
      ++none;
    } else {
      none = 0;
      events.push_back(event);
    }
  }
  return events;
}

using Events = std::vector<GraphicEvent>;

class GraphicWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("SDL_VIDEODRIVER", "offscreen", 1);
  }
  void TearDown() override { DestroyGraphicWindow(m_window); }
  GraphicWindow m_window = nullptr;
};

TEST_F(GraphicWindowTest, CentredFramedOrAtTheOriginWithoutFrame) {
  m_window = CreateGraphicWindow(u"Ordel \u6c38\u9060", 320, 200, GraphicWindowPlacement::Centred);
  ASSERT_NE(m_window, nullptr);
  EXPECT_STREQ(SDL_GetWindowTitle(m_window), "Ordel \xe6\xb0\xb8\xe9\x81\xa0");
  EXPECT_NE(SDL_GetWindowFlags(m_window) & SDL_WINDOW_HIDDEN, 0u);  // shown only when asked
  ShowGraphicWindow(m_window);
  EXPECT_NE(SDL_GetWindowFlags(m_window) & SDL_WINDOW_SHOWN, 0u);
  EXPECT_EQ(SDL_GetWindowFlags(m_window) & SDL_WINDOW_BORDERLESS, 0u);
  int w = 0, h = 0, x = 0, y = 0;
  SDL_GetWindowSize(m_window, &w, &h);
  SDL_GetWindowPosition(m_window, &x, &y);
  EXPECT_EQ(w, 320);
  EXPECT_EQ(h, 200);
  SDL_Rect display{};
  ASSERT_EQ(SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(m_window), &display), 0);
  EXPECT_NEAR(x + w / 2, display.x + display.w / 2, 1);
  EXPECT_NEAR(y + h / 2, display.y + display.h / 2, 1);

  // A second window beside the first; destroying one keeps the other's video.
  GraphicWindow full = CreateGraphicWindow(u"Ordel", 640, 480, GraphicWindowPlacement::FullScreen);
  ASSERT_NE(full, nullptr);
  EXPECT_NE(SDL_GetWindowFlags(full) & SDL_WINDOW_BORDERLESS, 0u);
  SDL_GetWindowPosition(full, &x, &y);
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  DestroyGraphicWindow(full);
  EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);
  SDL_GetWindowSize(m_window, &w, &h);
  EXPECT_EQ(w, 320);
}

TEST_F(GraphicWindowTest, QuitAndTheCloseBoxEndTheLoopOtherEventsDoNot) {
  m_window = CreateGraphicWindow(u"Ordel", 64, 64, GraphicWindowPlacement::Centred);
  ASSERT_NE(m_window, nullptr);
  ShowGraphicWindow(m_window);
  Drain();  // whatever showing the window queued

  SDL_Event key{};
  key.type = SDL_KEYDOWN;
  key.key.windowID = SDL_GetWindowID(m_window);
  ASSERT_EQ(SDL_PushEvent(&key), 1);
  EXPECT_EQ(Drain(), Events{GraphicEvent::Other});

  SDL_Event close{};
  close.type = SDL_WINDOWEVENT;
  close.window.event = SDL_WINDOWEVENT_CLOSE;
  close.window.windowID = SDL_GetWindowID(m_window);
  ASSERT_EQ(SDL_PushEvent(&close), 1);
  EXPECT_EQ(Drain(), Events{GraphicEvent::Quit});

  PostGraphicQuit();
  EXPECT_EQ(Drain(), Events{GraphicEvent::Quit});
}

TEST_F(GraphicWindowTest, WaitingEndsAtAnEventOrTheTimeout) {
  m_window = CreateGraphicWindow(u"Ordel", 64, 64, GraphicWindowPlacement::Centred);
  ASSERT_NE(m_window, nullptr);
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::duration d) { return std::chrono::duration_cast<std::chrono::milliseconds>(d).count(); };

  const DWORD ticksBefore = timeGetTime();
  auto start = Clock::now();
  WaitGraphicEvent(60);
  const auto waited = ms(Clock::now() - start);
  EXPECT_GE(waited, 50);
  EXPECT_LT(waited, 2000);
  const DWORD ticks = timeGetTime() - ticksBefore;  // the clock moves with real time
  EXPECT_GE(ticks, 50u);
  EXPECT_LT(ticks, 2000u);

  PostGraphicQuit();
  start = Clock::now();
  WaitGraphicEvent(5000);
  EXPECT_LT(ms(Clock::now() - start), 2000);
  EXPECT_EQ(Drain(), Events{GraphicEvent::Quit}) << "waiting must leave the event queued";
}

}  // namespace
