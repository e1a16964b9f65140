// A book's own description, the ComicInfo.xml that comic archives carry:
// which way it reads, its pages' kinds and sizes, and its titles. Only what
// the viewer uses is kept; everything else in the file is passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class ReadingDirection { Unknown, RightToLeft, LeftToRight };

enum class ComicPageType { Other, FrontCover, Deleted };

struct ComicPage {
  int32_t index = 0;  // among the archive's images, from 0
  ComicPageType type = ComicPageType::Other;
  bool doublePage = false;
  // The stated size in pixels; 0 when not stated, or not believable.
  int32_t width = 0;
  int32_t height = 0;
  bool operator==(const ComicPage&) const = default;
};

struct ComicInfo {
  ReadingDirection direction = ReadingDirection::Unknown;
  std::u16string series, number, volume, title, writer, summary;
  std::vector<ComicPage> pages;
};

// What a file of others is allowed to cost.
constexpr std::size_t kMaxComicInfoBytes = std::size_t{1} << 20;
constexpr std::size_t kMaxComicInfoPages = 10000;  // Page elements past these are passed over
constexpr std::size_t kMaxComicInfoText = 4096;    // code units a field keeps
constexpr int32_t kMaxStatedSide = 1 << 20;        // the largest side a page may have

// The description in `bytes`, or nothing with `why` (a short English
// phrase) when the file as a whole is refused: too large, too deep, a
// document type declaration, not well formed, no ComicInfo root. A field
// of the wrong kind (a size that is no number) is passed over alone.
std::optional<ComicInfo> ParseComicInfo(std::string_view bytes, std::u16string* why = nullptr);
