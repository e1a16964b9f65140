// The user's language for menus, dialogs and the lines on screen. The texts
// are written in the program as its Japanese menus show them (the file
// commands in English, the view items in Japanese); every other language
// gets English, from the translation built into the program. Window titles'
// product text, debug output and the profile are never translated.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "viewer/book/BookOpener.h"

enum class UiLanguage { Japanese, English };

// Japanese for a Japanese locale, English for any other.
UiLanguage UserLanguage();
// Texts come in `language` from now on.
void UseLanguage(UiLanguage language);

// A text as written in the program (UTF-8), in the language in use.
std::u16string Text(const char* text);

// The line that says why a book or page cannot be shown; empty for None.
std::u16string FailureText(OpenFailure why);
// The line over a page that is not whole: that it is damaged, in the
// window's language, then the reader's or decoder's own words for why.
std::u16string DamageText(const std::u16string& reason);
// Over a book whose archive broke off before its end.
std::u16string PagesMissingText();
// Reading on found no volume that way (+1 after the book, -1 before it).
std::u16string NoVolumeText(int way);
// A catalogue was picked, but nothing here browses catalogues yet.
std::u16string CatalogueNoticeText();
// The book's own description as a panel's rows, a label and its words, the
// fields it leaves empty left out.
// Without `summary`, the short fields alone (the page grid's header).
std::vector<std::pair<std::u16string, std::u16string>> InfoLines(const ComicInfo& info, bool summary = true);
