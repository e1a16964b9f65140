// Pages too large at their device size to scale as one bitmap are made in
// parts: a grid over the device pixels the whole page covers, of bands
// across its whole width (or of columns no wider than kPartMostWidth on a
// page zoomed wider still), each scaled on its own from the decoded page.
// Only the parts a view needs are made: those on screen and, in the
// column, those within its read-ahead window. Pure rules, for tests and any
// thread.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d2d1.h"
#include "platform/wincodec.h"

// A band's height and a part's greatest width, device pixels: a part is
// never more than 8 Mi pixels, well within the scaler's bound.
constexpr uint32_t kPartRows = 2048;
constexpr uint32_t kPartMostWidth = 4096;
// A zoomed page's parts are smaller, so that the few in view come quickly.
constexpr uint32_t kViewPartSide = 1024;

// A rectangle of device pixels over a page's whole cover, its corner
// anywhere (it may stand out of the page on any side).
struct CoverSpan {
  int64_t left = 0;
  int64_t top = 0;
  int64_t right = 0;
  int64_t bottom = 0;
};

// Whether a page covering `cover` device pixels is made in parts.
bool InParts(D2D1_SIZE_U cover);
// Every part of such a page, row by row.
std::vector<WICRect> PartsOf(D2D1_SIZE_U cover);
// The parts that meet `span`, row by row; none when it misses the page. A
// grid of `rows` high and at most `mostWidth` wide.
std::vector<WICRect> PartsMeeting(D2D1_SIZE_U cover, const CoverSpan& span, uint32_t rows = kPartRows,
                                  uint32_t mostWidth = kPartMostWidth);
// Bytes a part's bitmap takes.
inline uint64_t BytesOf(const WICRect& part) { return 4ull * static_cast<uint64_t>(part.Width) * part.Height; }

// A small copy of the whole page to stand in, enlarged, where its parts
// are not made yet: a sixteenth of the bound at most.
D2D1_SIZE_U StandInOf(D2D1_SIZE_U cover);

// The parts (on a grid of kViewPartSide) of a page drawn with its top left
// at (`left`, `top`) on a window of `window` device pixels that the window
// shows, grown by a quarter of its size on every side unless `margin` is
// false: those made for a zoom in the paged views.
std::vector<WICRect> PartsInView(D2D1_SIZE_U cover, int64_t left, int64_t top, D2D1_SIZE_U window,
                                 bool margin = true);

// The bytes the pixels decoded to cut parts from may take: the page decoded
// at the least power-of-two fraction of its size that still covers `cover`
// (as a JPEG decodes), never less than an ordinary page's budget (`least`);
// the decoder bounds the page itself.
uint64_t PartSourceBytes(D2D1_SIZE_U page, D2D1_SIZE_U cover, uint64_t least);
