// UTF-8 <-> UTF-16 at the operating system's edges. File names need not be
// valid UTF-8: each byte that does not decode becomes the lone surrogate
// U+DC80 + byte and turns back into that byte, so every name read from disk
// opens again.
#pragma once

#include <string>
#include <string_view>

std::u16string Utf8ToUtf16(std::string_view utf8);
// The same, appended to out (which keeps its capacity for the next call).
void AppendUtf8AsUtf16(std::string_view utf8, std::u16string& out);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Plain ASCII (numbers, fixed texts) widened code unit by code unit.
std::u16string AsciiToUtf16(std::string_view ascii);

// Length of a NUL-terminated UTF-16 text.
std::size_t WideLength(const char16_t* text);
