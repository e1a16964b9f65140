// The graphics engine's own top-level window and its event pump, on SDL2
// video (OpenGL capable); SDL stays behind these calls. One thread: the one
// that made the window pumps its events.
#pragma once

struct SDL_Window;
using GraphicWindow = SDL_Window*;  // opaque to the engine

enum class GraphicWindowPlacement {
  Centred,     // framed, centred on its display
  FullScreen,  // borderless, at (0, 0)
};

// A hidden window whose drawable is width x height; null when no video
// device or window can be had (then nothing stays set up).
GraphicWindow CreateGraphicWindow(const char16_t* title, int width, int height, GraphicWindowPlacement placement);
void ShowGraphicWindow(GraphicWindow window);
// Destroys the window and gives back the video device its creation took.
void DestroyGraphicWindow(GraphicWindow window);

enum class GraphicEvent {
  None,   // nothing waiting
  Quit,   // a quit request, or the close box of a window
  Other,  // anything else, taken and dropped
};
// Takes the next waiting event, without blocking.
GraphicEvent PollGraphicEvent();
// Sleeps until an event waits or `milliseconds` have passed; the event
// stays queued for PollGraphicEvent.
void WaitGraphicEvent(int milliseconds);
// Queues a quit request, as the close box does.
void PostGraphicQuit();
