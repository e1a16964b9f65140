// A book's ComicInfo.xml put to work on the book just listed.
#pragma once

#include <string_view>

#include "viewer/book/Book.h"

// Whether `path` (under the book's root) is the description at the
// archive's root: "/ComicInfo.xml", in any case.
bool IsComicInfoPath(std::u16string_view path);

// When the book has its description at its root, reads it and applies it:
// the description and the pages it marks deleted stay among the entries but
// are passed over as files that are no pages (the page numbers stay the
// archive's), its front cover and its pages' stated shapes are marked, and
// its direction and titles are kept in `book.info`. Its pages count among
// the entries named as images, in the book's order. A description that is
// refused changes nothing, and writes one debug line.
void ApplyComicInfo(Book& book);
