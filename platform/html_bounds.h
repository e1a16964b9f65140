// A cheap look at a page's markup before it is laid out. Qt's text layout
// recurses once a level of nesting, and lays the content of a table's cell
// out twice, so its time doubles with each table around the content: a page
// from the network is measured first by counting its tags and text; nothing
// is rendered here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

enum class HtmlVerdict { Fine, TooLarge, TooDeep, TooManyElements, TooCostly, TooSlow };

struct HtmlLimits {
  std::size_t maxUnits = std::size_t{1} << 20;  // UTF-16 code units
  int maxDepth = 64;                            // elements open at once
  int maxElements = 5000;                       // start tags, void ones too
  // The layout's work: each start tag and each 16 units of text count 2^n
  // with n tables open around them. The default is what a page of no
  // tables at the size and element caps costs.
  std::uint64_t maxLayoutWeight = (std::uint64_t{1} << 20) / 16 + 5000;
  std::chrono::milliseconds maxTime{250};       // spent counting
};

// Measures `html` against `limits`; stops at the first bound passed. The
// count errs on the deep side: an element is closed by its end tag, or by
// the few start tags that close one of their kind without it (p, li, dt,
// dd, tr, td, th, option), never by "/>" unless it is a void element.
HtmlVerdict CheckHtmlBounds(std::u16string_view html, const HtmlLimits& limits = {});
// Why a page was refused, in words for the debug output ("" when fine).
const char16_t* HtmlVerdictReason(HtmlVerdict verdict);
