#include <SDL2/SDL.h>

#include "platform/graphicwindow.h"
#include "platform/text.h"

GraphicWindow CreateGraphicWindow(const char16_t* title, int width, int height, GraphicWindowPlacement placement) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
  const bool centred = placement == GraphicWindowPlacement::Centred;
  const Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | (centred ? 0 : SDL_WINDOW_BORDERLESS);
  const int at = centred ? static_cast<int>(SDL_WINDOWPOS_CENTERED) : 0;
  SDL_Window* window = SDL_CreateWindow(Utf16ToUtf8(title != nullptr ? title : u"").c_str(), at, at, width, height, flags);
  if (window == nullptr) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  return window;
}

void ShowGraphicWindow(GraphicWindow window) {
  if (window != nullptr) SDL_ShowWindow(window);
}

void DestroyGraphicWindow(GraphicWindow window) {
  if (window == nullptr) return;
  SDL_DestroyWindow(window);
  SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

GraphicEvent PollGraphicEvent() {
  SDL_Event event;
  if (!SDL_PollEvent(&event)) return GraphicEvent::None;
  if (event.type == SDL_QUIT || (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE))
    return GraphicEvent::Quit;
  return GraphicEvent::Other;
}

void WaitGraphicEvent(int milliseconds) { SDL_WaitEventTimeout(nullptr, milliseconds); }

void PostGraphicQuit() {
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
}
