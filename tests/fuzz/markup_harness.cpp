// The bytes as a page's markup from the network, measured before anything
// lays it out: the measure must end, give a reason for every refusal, and
// never call a page fine under tighter bounds that it refuses under looser
// ones (the bounds only ever shrink what passes).
#include <cstdlib>
#include <string>

#include "harnesses.h"
#include "platform/html_bounds.h"
#include "platform/text.h"

void FuzzMarkup(const uint8_t* data, std::size_t size) {
  const std::u16string html = Utf8ToUtf16(std::string(reinterpret_cast<const char*>(data), size));
  const HtmlVerdict loose = CheckHtmlBounds(html);
  HtmlLimits tight;
  tight.maxDepth = 4;
  tight.maxElements = 16;
  tight.maxLayoutWeight = 64;
  const HtmlVerdict strict = CheckHtmlBounds(html, tight);
  if (strict == HtmlVerdict::Fine && loose != HtmlVerdict::Fine && loose != HtmlVerdict::TooSlow) std::abort();
  for (HtmlVerdict verdict : {loose, strict}) {
    const char16_t* reason = HtmlVerdictReason(verdict);
    if (reason == nullptr || (verdict != HtmlVerdict::Fine && reason[0] == u'\0')) std::abort();
  }
}
