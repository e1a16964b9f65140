// The program: start-up, the message loop, and the end.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <exception>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>

#include "platform/commandline.h"
#include "platform/debug.h"
#include "platform/http/http_fetch_thread.h"
#include "platform/system.h"
#include "platform/text.h"
#include "viewer/archive/SevenZipModule.h"
#include "viewer/book/BookOpener.h"
#include "viewer/catalogue/AddressOpening.h"
#include "viewer/catalogue/CatalogueBrowser.h"
#include "viewer/shell/Catalogues.h"
#include "viewer/shell/DataPaths.h"
#include "viewer/shell/Language.h"
#include "viewer/shell/MainWindow.h"
#include "viewer/shell/Placement.h"
#include "viewer/shell/Settings.h"
#include "viewer/shell/StartUp.h"

namespace {

constexpr char kHelp[] =
    "Usage: velmora [OPTION]... [[--] PATH]\n"
    "  or:  velmora [OPTION]... URL\n"
    "Show the book at PATH: a folder of images, an image, or an archive of them\n"
    "(.cbz, .cbr, .cb7, .cbt; Zip, RAR, 7z, LZH, tar). Without PATH, the about\n"
    "window. A PATH shorter than five characters is not taken.\n"
    "With an http or https URL of a book server's OPDS catalogue, browse it\n"
    "in a window of its own; a book picked there opens in the viewer. A URL\n"
    "of a comic archive on a server that honours byte ranges is read in place.\n"
    "\n"
    "      --help     display this help and exit\n"
    "      --version  output version information and exit\n"
    "      --         end of options: a PATH that starts with '-' follows\n"
    "\n"
    "In the window, F1 or ? lists the keys.\n"
    "When PATH cannot be shown, the window says why, and so does a line on\n"
    "standard error.\n"
    "See velmora(1) for the keys and the files it keeps.\n"
    "\n"
    "Exit status: 0 after the window closes (whether PATH opened or not),\n"
    "1 when the program cannot find its own folder, 2 for a wrong command line.\n";

}  // namespace

int main(int argc, char** argv) {
  // Before anything else, Qt's start-up included: --help needs no display.
  const CommandLine commandLine = ParseCommandLine(argc, argv, "velmora", kHelp);
  if (commandLine.exitStatus >= 0) return commandLine.exitStatus;
  // Past a file size limit (ulimit -f) a save fails, as on a full disk, and
  // says so once, instead of the signal ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  KeepPageBuffersOnTheHeap();
  // An address is a catalogue to browse, never a path.
  const std::u16string startAddress = StartAddress(argc, argv);
  const std::u16string startPath = startAddress.empty() ? StartPath(argc, argv) : std::u16string();
  TraceStage("start");
  // The resource pack, read as the window is made, is an archive.
  PreloadSevenZip();
  // A 7z book's first pages come out of one long decompression: the book
  // is opened and that begun while the toolkit and the window are made.
  // Any failure leaves the book to the window's own opening.
  std::future<ComRef<IDirectory>> archiveAhead;
  if (!startPath.empty()) {
    const std::u16string cache = CacheFolderOfUser();
    try {
      archiveAhead = std::async(std::launch::async, [path = startPath, spill = Utf16ToUtf8(cache)] {
        try {
          return OpenArchiveAhead(path, spill);
        } catch (const std::exception&) {
          return ComRef<IDirectory>();
        }
      });
    } catch (const std::system_error&) {
    }
  }
  InitApplication(argc, argv);
  TraceStage("toolkit");
  UseLanguage(UserLanguage());
  CoInitialize(nullptr);

  char16_t modulePath[4096] = {};
  GetModuleFileNameW(nullptr, modulePath, 4096);
  std::u16string moduleDir(modulePath);
  const std::size_t slash = moduleDir.rfind(u'/');
  if (slash == std::u16string::npos) {
    ShutdownApplication();
    return 1;
  }
  const std::u16string exeName = moduleDir.substr(slash + 1, 259);
  moduleDir.resize(slash + 1);
  g_moduleDir = moduleDir;
  PrepareProfileFolder(g_moduleDir, UserFolders::FromEnvironment());
  GetScreenDpi(&ScreenDpiX, &ScreenDpiY);

  OutputDebugStringW((std::u16string(kProductTitle) + u"\r\n  ScreenDpiX : " + Decimal(ScreenDpiX) +
                      u"\r\n  ScreenDpiY : " + Decimal(ScreenDpiY) + u"\r\n  Path : " + g_moduleDir + u"\r\n")
                         .c_str());
  WriteDigitizerReport();
  // Kept as the setting the about window's browser reads on its platform.
  SetUserSetting(u"Software/Microsoft/Internet Explorer/Main/FeatureControl/FEATURE_BROWSER_EMULATION",
                 exeName.c_str(), 10000);

  TraceStage("settings");
  // Remote books' reads wait on a thread of their own, made when first
  // needed (by the window's thread or a worker), and ended after the window.
  std::once_flag fetchStarted;
  std::unique_ptr<HttpFetchThread> fetchThread;
  const BlockingFetch fetch = [&fetchStarted, &fetchThread](HttpRequest request) {
    std::call_once(fetchStarted, [&fetchThread] { fetchThread = std::make_unique<HttpFetchThread>(); });
    return fetchThread->Fetch(std::move(request));
  };
  // What the window does with an address; its downloads of books that
  // servers send only whole need the toolkit.
  std::unique_ptr<CAddressOpening> addresses;
  // Huge pages serve the first pages of a book given at start, and only
  // those (below): without one, the workers' heaps never ask for them.
  if (startPath.empty()) StopAdvisingHugePages();
  auto window = std::make_unique<CMainWindow>();
  window->ShowTitleAtStart(startPath.empty());
  std::unique_ptr<CatalogueBrowser> catalogue;
  const HWND hwnd = window->Create(kProductTitle, 1024, 768);
  TraceStage("window");
  if (hwnd != nullptr) {
    SetWindowIcon(hwnd);
    // Where it was last time, on the screens there are now; centred the
    // first time.
    bool maximized = false;
    if (!RestoreWindowPlace(hwnd, &maximized)) CenterWindow(hwnd);
    // Before the window shows: from then on a signal closes it as the close box does.
    CloseOnTerminationSignals(hwnd);
    // A turn's pages reach the screen first: the loads ahead of them start
    // once their frame is drawn, instead of taking the cores from it.
    window->LoadAheadAfterFrames(true);
    if (!startPath.empty()) {
      // The book opens and its first pages start decoding on the workers
      // before the window shows, so that both go on at once: the opening
      // turn does not wait for them here, they come through the message loop.
      window->WaitForPagesAtMost(std::chrono::milliseconds(0));
      if (ComRef<IDirectory> opened = archiveAhead.valid() ? archiveAhead.get() : ComRef<IDirectory>())
        window->UseOpenedArchive(OpenedArchive{startPath, std::move(opened)});
      // Said where the command was typed too, as the window says it. The
      // first pages made, the heaps' huge pages have served.
      const std::string typed = commandLine.operands.front();
      OpenStartPath(*window, startPath, [typed](const std::u16string& why) {
        StopAdvisingHugePages();
        if (!why.empty()) std::fprintf(stderr, "velmora: %s: %s\n", typed.c_str(), Utf16ToUtf8(why).c_str());
      });
      TraceStage("opened");
    }
    ShowWindow(hwnd, maximized ? SW_SHOWMAXIMIZED : SW_SHOW);
    RegisterTouchWindow(hwnd, 0);
    TraceStage("shown");

    // A turn keeps the window no longer than a frame or so: past that it
    // is made when the workers bring its pages, and keys, the close box and
    // signals are served meanwhile.
    window->WaitForPagesAtMost(std::chrono::milliseconds(40));
    // The catalogue browser is made when first asked for: by an address the
    // program was given, or by a catalogue picked in the "Catalogues..."
    // dialog. A book picked there is to be read: the viewer comes in front.
    const auto browser = [&catalogue, &window, hwnd, &fetch]() -> CatalogueBrowser& {
      if (!catalogue) {
        catalogue = std::make_unique<CatalogueBrowser>([&window, hwnd](const std::u16string& book) {
          window->OpenFile(book.c_str());
          SetForegroundWindow(hwnd);
        }, CatalogueBrowserInLanguage());
        catalogue->ReadBooksInPlace(
            [&window, hwnd](const RemoteBook& book) {
              window->OpenRemoteBook(book);
              SetForegroundWindow(hwnd);
            },
            fetch);
      }
      return *catalogue;
    };
    // An address is asked once what it is, off the window's thread: a
    // catalogue is browsed, a book on a server that honours range requests
    // read in place, one sent only whole downloaded first.
    addresses = std::make_unique<CAddressOpening>(
        fetch, AddressTargets{.browse = [browser](const std::u16string& url,
                                                  const std::optional<HttpCredentials>& credentials) {
                                browser().Open(url, credentials);
                              },
                              .openFile = [&window](const std::u16string& path) { window->OpenFile(path.c_str()); },
                              .openRemote = [&window](const RemoteBook& book) { window->OpenRemoteBook(book); },
                              .say = [](const std::u16string& url, const std::u16string& why) {
                                std::fprintf(stderr, "velmora: %s: %s\n", Utf16ToUtf8(url).c_str(),
                                             Utf16ToUtf8(why).c_str());
                              }});
    // With the password of the catalogue kept for its origin, read when the
    // address is given.
    window->SetAddressOpener([&window, &addresses](const std::u16string& url) {
      window->OpenLater(addresses->Opening(url, window->CredentialsForAddress(url)));
    });
    window->SetRemoteFetch(fetch);
    window->SetCatalogueOpener([browser](const OpenedCatalogue& opened) {
      std::optional<HttpCredentials> credentials;
      if (!opened.catalogue.user.empty()) credentials = HttpCredentials{opened.catalogue.user, opened.password};
      browser().Open(opened.catalogue.url, credentials);
    });
    if (!startAddress.empty()) {
      window->OpenAddress(startAddress);
    } else if (startPath.empty()) {
      ShowAboutAtStart(*window);
    }
    RunMessageLoop();
    UnregisterTouchWindow(hwnd);
    // The profile is saved. A worker still in a long archive read or decode,
    // or an opening still waiting on a server, is not waited for: the
    // program ends without it.
    if (!window->WorkersDone(std::chrono::milliseconds(250)) || !window->OpeningsDone(std::chrono::milliseconds(50))) {
      std::fflush(nullptr);
      std::_Exit(0);
    }
  }
  catalogue.reset();
  addresses.reset();
  window.reset();
  // After the books that read through it: its client needs the toolkit.
  fetchThread.reset();
  ShutdownApplication();
  CoUninitialize();
  return 0;
}
