#include "viewer/archive/ArchiveNames.h"

#include <iconv.h>

#include <algorithm>

#include "platform/text.h"

namespace {

constexpr char16_t kRawBase = 0xEF00;

bool IsRaw(char16_t u) { return u >= 0xEF80 && u <= 0xEFFF; }
unsigned RawByte(char16_t u) { return static_cast<unsigned>(u - kRawBase); }

bool IsShiftJisLead(unsigned byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }
bool IsShiftJisTrail(unsigned byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// The byte a unit stood for, when it stood for one (raw bytes and ASCII);
// -1 for other characters.
int ByteOf(char16_t u) {
  if (IsRaw(u)) return static_cast<int>(RawByte(u));
  return u < 0x80 ? static_cast<int>(u) : -1;
}

std::string ToCp932(std::string_view bytes) {
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  std::string in(bytes);
  std::string utf8(bytes.size() * 3 + 4, '\0');
  char* from = in.data();
  std::size_t inLeft = in.size();
  char* to = utf8.data();
  std::size_t outLeft = utf8.size();
  const std::size_t done = iconv(cd, &from, &inLeft, &to, &outLeft);
  iconv_close(cd);
  if (done == static_cast<std::size_t>(-1) || inLeft != 0) return {};
  utf8.resize(utf8.size() - outLeft);
  return utf8;
}

}  // namespace

std::u16string DecodeArchiveName(const std::u16string& units, ArchiveNameSource source) {
  if (std::none_of(units.begin(), units.end(), IsRaw)) return units;

  // Back to the stored bytes: raw units are the bytes, the rest was UTF-8.
  // A Shift-JIS character is a lead byte and a trail byte; the walk keeps
  // to character boundaries, so a lead byte is only taken as one where a
  // character starts.
  std::string bytes;
  std::size_t run = 0;  // start of the pending run of decoded characters
  auto flush = [&](std::size_t end) {
    if (end > run) bytes += Utf16ToUtf8(std::u16string_view(units).substr(run, end - run));
  };
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (!IsRaw(units[i])) continue;
    flush(i);
    const unsigned lead = RawByte(units[i]);
    bytes.push_back(static_cast<char>(lead));
    run = i + 1;
    if (!IsShiftJisLead(lead) || i + 1 >= units.size()) continue;
    const char16_t next = units[i + 1];
    if (source == ArchiveNameSource::Lzh && next == u'/') {
      bytes.push_back('\x5C');
    } else {
      const int trail = ByteOf(next);
      if (trail < 0 || !IsShiftJisTrail(static_cast<unsigned>(trail))) continue;
      bytes.push_back(static_cast<char>(trail));
    }
    ++i;
    run = i + 1;
  }
  flush(units.size());

  const std::string utf8 = ToCp932(bytes);
  if (utf8.empty()) return units;  // not Shift-JIS either
  return Utf8ToUtf16(utf8);
}

std::u16string ArchiveBytesToUnits(std::string_view bytes) {
  std::u16string units = Utf8ToUtf16(bytes);
  // Utf8ToUtf16 escapes each undecodable byte as U+DC80 + byte; strict UTF-8
  // never yields a lone surrogate otherwise.
  for (char16_t& u : units)
    if (u >= 0xDC80 && u <= 0xDCFF) u = static_cast<char16_t>(kRawBase + (u - 0xDC00));
  return units;
}
