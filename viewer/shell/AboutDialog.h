// The about window: the maker's page for the viewer in a light browser,
// with an OK button below it that becomes usable after one second. Made
// once, hidden when dismissed, shown again on request.
#pragma once

#include <string>

#include "platform/dialog.h"

// The page's path and query on the maker's site. Without a site configured
// (ReaderSettings' AboutSite) the copy shipped with the program shows and
// nothing is fetched: a start asks the network nothing.
inline constexpr char16_t kAboutPagePath[] = u"/app/velmora/velmora.html?ver=0.1.12";
inline constexpr char16_t kAboutCopy[] = u":/velmora/about.html";
constexpr int IDC_BROWSER = 1001;
constexpr UINT_PTR AboutTimerId = 30000;

// The page's address for a site ("https://host", no trailing "/"); empty
// for none.
std::u16string AboutPageAddress(const std::u16string& site);

class CAboutDialog final : public CWindowImpl {
 public:
  ~CAboutDialog() override;
  // Creates the window the first time; later shows it again over `owner`.
  void Show(HWND owner);
  bool ProcessWindowMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                            DWORD mapId) override;

  HWND m_browser = nullptr;

 private:
  HWND m_owner = nullptr;
};
