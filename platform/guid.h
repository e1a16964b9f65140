// GUID: the 16-byte identifier of interfaces and classes, with the textual
// form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" parsed at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
static_assert(sizeof(GUID) == 16);

using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

// All 16 bytes take part, as memcmp would compare them.
constexpr bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; ++i)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
constexpr bool IsEqualGUID(const GUID& a, const GUID& b) { return a == b; }

namespace guid_detail {
constexpr uint32_t HexDigit(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  throw "GUID text: not a hexadecimal digit";
}
constexpr uint32_t Hex(const char* text, std::size_t pos, std::size_t digits) {
  uint32_t v = 0;
  for (std::size_t i = 0; i < digits; ++i) v = v * 16 + HexDigit(text[pos + i]);
  return v;
}
}  // namespace guid_detail

// MakeGuid("{FE20D19E-FF64-4B6F-B412-9EF4C5DEE88D}"); a malformed text does not compile.
template <std::size_t N>
consteval GUID MakeGuid(const char (&text)[N]) {
  static_assert(N == 39, "GUID text must be {8-4-4-4-12}");
  using guid_detail::Hex;
  if (text[0] != '{' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-' ||
      text[37] != '}')
    throw "GUID text: braces or dashes misplaced";
  GUID g{Hex(text, 1, 8), static_cast<uint16_t>(Hex(text, 10, 4)),
         static_cast<uint16_t>(Hex(text, 15, 4)), {}};
  g.Data4[0] = static_cast<uint8_t>(Hex(text, 20, 2));
  g.Data4[1] = static_cast<uint8_t>(Hex(text, 22, 2));
  for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<uint8_t>(Hex(text, 25 + 2 * i, 2));
  return g;
}

// The registry form, upper-case with braces, as Windows writes it.
std::string GuidToString(const GUID& g);
