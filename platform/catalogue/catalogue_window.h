// The catalogue browser's window: a heading, Back, Up, Start and the page
// buttons, a search field, a status line with Retry, a grid of cells (a
// cover or a folder above a title) and a download row with its progress
// and Cancel. It shows the plain values it is given and tells the user's
// actions through callbacks; what a cell is, and where a button leads, is
// its driver's business. Qt stays inside.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct CatalogueCell {
  std::u16string title;
  std::u16string tooltip;
  bool folder = false;  // drawn as a folder until a cover comes
};

// Everything on the window but the cells and the download row.
struct CatalogueScreen {
  std::u16string heading;
  std::u16string windowTitle;  // empty: the texts' own
  bool loading = false;        // the status line says so, and Retry hides
  std::u16string status;       // the status line when not loading
  bool retry = false;
  bool back = false, up = false, start = false, previous = false, next = false;
  bool search = false;
};

// Every word the window shows of its own, in the user's language;
// `downloading` has "%1" where the book's title goes.
struct CatalogueWindowTexts {
  std::u16string windowTitle = u"Catalogue";  // until a feed gives its own
  std::u16string back = u"Back", up = u"Up", start = u"Start";
  std::u16string previous = u"Previous page", next = u"Next page";
  std::u16string search = u"Search", retry = u"Retry", cancel = u"Cancel";
  std::u16string loading = u"Loading\u2026";
  std::u16string downloading = u"Downloading \u201c%1\u201d";
  bool operator==(const CatalogueWindowTexts&) const = default;
};

struct CatalogueWindowActions {
  std::function<void(int row)> activate;  // Enter or a double click on a cell
  std::function<void()> back, up, start, previous, next, retry, cancelDownload, closed;
  std::function<void(const std::u16string& terms)> search;
  // The rows whose cells are in view, ascending, once the grid has settled
  // after a change of cells, a scroll or a resize.
  std::function<void(const std::vector<int>& rows)> rowsInView;
};

class CatalogueWindow {
 public:
  // Needs a QApplication alive; hidden until Present.
  explicit CatalogueWindow(CatalogueWindowActions actions, CatalogueWindowTexts texts = {});
  ~CatalogueWindow();
  CatalogueWindow(const CatalogueWindow&) = delete;
  CatalogueWindow& operator=(const CatalogueWindow&) = delete;

  // Shows the window, raised and given the keys.
  void Present();
  bool IsVisible() const;

  void Show(const CatalogueScreen& screen);
  // The grid emptied, as while a feed loads.
  void ClearCells();
  // The grid filled anew, `selected` current (none when out of range), and
  // given the focus.
  void SetCells(const std::vector<CatalogueCell>& cells, int selected);
  // A cover's bytes for a cell: decoded and scaled into it, or the cell
  // left as it is when they are no picture of a sane size.
  void SetCover(int row, const std::string& bytes);
  // The current cell's row; -1 when none.
  int CurrentRow() const;

  // The download row: shown with its line and a bar that spins until the
  // size is known, updated, hidden.
  void ShowDownload(const std::u16string& title);
  void DownloadProgress(std::int64_t received, std::int64_t total);
  void HideDownload();

  // Runs `task` from the event loop once the caller has returned; never
  // after the window is gone.
  void Later(std::function<void()> task);

  // What shows, for tests.
  std::u16string Heading() const;
  std::size_t CellCount() const;
  std::size_t CoverCount() const;  // cells showing a cover

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};
