// The "Catalogues" dialog: the book servers kept, listed by name, with
// Add, Edit, Remove and Open, and a form of name, URL, user name and
// password (typed unseen). It keeps nothing and fetches nothing itself:
// its host checks, keeps and removes; Open ends the dialog with the row
// picked, and nothing is asked of any server before that.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/winuser.h"

// A catalogue as the form shows and returns it.
struct CatalogueFields {
  std::u16string name, url, user, password;
  // Whether the password was typed in the form (else it is what the host
  // gave, or nothing when it could not be read: not to be stored again).
  bool passwordEdited = false;
  // A line the form shows under the fields (the password could not be read).
  std::u16string note;
};

// Every word the dialog shows, in the user's language.
struct CatalogueDialogTexts {
  std::u16string title, add, edit, remove, open, close;
  std::u16string addTitle, editTitle;  // the form's captions
  std::u16string name, url, user, password;
  std::u16string removeQuestion;  // asked before a row goes, above its name
};

// What became of the fields the form gave.
struct CatalogueKept {
  bool kept = false;
  // Not kept: why not (the form stays open, showing it). Kept: anything
  // the reader should know still (the password could not be stored).
  std::u16string note;
};

class ICatalogueDialogHost {
 public:
  virtual ~ICatalogueDialogHost() = default;
  // The rows, by name, in order.
  virtual std::vector<std::u16string> Names() const = 0;
  // The row's fields for the form, its password read from where it is kept.
  virtual CatalogueFields Fields(std::size_t row) = 0;
  // The fields kept as the row `row` is, or as a new row at the end.
  virtual CatalogueKept Keep(std::optional<std::size_t> row, const CatalogueFields& fields) = 0;
  virtual void Remove(std::size_t row) = 0;
};

// Shows the dialog over `owner` until it is closed: the row picked with
// Open (or a double click or Enter on it), or none.
std::optional<std::size_t> ShowCatalogueDialog(HWND owner, const CatalogueDialogTexts& texts,
                                               ICatalogueDialogHost& host);
// Tests answer it themselves: the hook is handed what the dialog would be.
using CatalogueDialogHook = std::optional<std::size_t> (*)(const CatalogueDialogTexts& texts,
                                                           ICatalogueDialogHost& host, void* context);
void SetCatalogueDialogHook(CatalogueDialogHook hook, void* context);
