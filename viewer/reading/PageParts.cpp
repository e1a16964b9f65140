#include "viewer/reading/PageParts.h"

#include <algorithm>
#include <cmath>

#include "viewer/reading/ViewScale.h"

namespace {

// The columns of a page's parts: as few as keep each within kPartMostWidth,
// of equal width but for the last.
uint32_t ColumnWidth(uint32_t width, uint32_t mostWidth) {
  const uint32_t columns = (width + mostWidth - 1) / mostWidth;
  return (width + columns - 1) / columns;
}

}  // namespace

bool InParts(D2D1_SIZE_U cover) {
  return static_cast<uint64_t>(cover.width) * cover.height > kMostScaledPixels;
}

std::vector<WICRect> PartsOf(D2D1_SIZE_U cover) {
  return PartsMeeting(cover, {0, 0, cover.width, cover.height});
}

std::vector<WICRect> PartsMeeting(D2D1_SIZE_U cover, const CoverSpan& span, uint32_t rows, uint32_t mostWidth) {
  std::vector<WICRect> parts;
  if (cover.width == 0 || cover.height == 0) return parts;
  const int64_t left = std::max<int64_t>(span.left, 0), right = std::min<int64_t>(span.right, cover.width);
  const int64_t top = std::max<int64_t>(span.top, 0), bottom = std::min<int64_t>(span.bottom, cover.height);
  if (left >= right || top >= bottom) return parts;
  const int64_t across = ColumnWidth(cover.width, mostWidth), down = rows;
  for (int64_t y = top / down * down; y < bottom; y += down)
    for (int64_t x = left / across * across; x < right; x += across)
      parts.push_back({static_cast<int32_t>(x), static_cast<int32_t>(y),
                       static_cast<int32_t>(std::min<int64_t>(across, cover.width - x)),
                       static_cast<int32_t>(std::min<int64_t>(down, cover.height - y))});
  return parts;
}

std::vector<WICRect> PartsInView(D2D1_SIZE_U cover, int64_t left, int64_t top, D2D1_SIZE_U window, bool margin) {
  const int64_t mx = margin ? window.width / 4 : 0, my = margin ? window.height / 4 : 0;
  return PartsMeeting(cover, {-left - mx, -top - my, -left + window.width + mx, -top + window.height + my},
                      kViewPartSide, kViewPartSide);
}

D2D1_SIZE_U StandInOf(D2D1_SIZE_U cover) {
  const double area = static_cast<double>(cover.width) * cover.height, most = kMostScaledPixels / 16.0;
  const double k = area > most ? std::sqrt(most / area) : 1.0;
  return {std::max<UINT>(1, static_cast<UINT>(cover.width * k)), std::max<UINT>(1, static_cast<UINT>(cover.height * k))};
}

uint64_t PartSourceBytes(D2D1_SIZE_U page, D2D1_SIZE_U cover, uint64_t least) {
  uint64_t width = page.width, height = page.height;
  while (width / 2 >= cover.width && height / 2 >= cover.height && width / 2 > 0 && height / 2 > 0)
    width /= 2, height /= 2;
  return std::max(least, 4 * width * height);
}
