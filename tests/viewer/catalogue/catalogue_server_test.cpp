// The catalogue browsing against a real book server: calibre's content
// server over a library of three small comic books made here, with a
// password asked (HTTP Basic). One server for the whole program, which runs
// as one test (see CMakeLists.txt): starting calibre costs seconds.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtCore/QEventLoop>
#include <QtGui/QImage>
#include <QtWidgets/QApplication>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "TestSupport.h"
#include "platform/http/http_client.h"
#include "platform/http/http_fetch_thread.h"
#include "viewer/archive/Archive.h"
#include "viewer/catalogue/BookDownload.h"
#include "viewer/catalogue/CatalogueBrowser.h"
#include "viewer/catalogue/CatalogueBrowsing.h"
#include "viewer/catalogue/FetchedFeed.h"
#include "viewer/catalogue/RemoteBook.h"

namespace {

using namespace std::chrono_literals;

const char* const kBooks[][2] = {{"Alpha Book - Ann Author", "red"},
                                 {"Beta Book - Bob Writer", "green"},
                                 {"Gamma Book - Cy Penn", "blue"}};
const HttpCredentials kUser{u"alice", u"s3cret"};

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// A port nobody listens on now, or whether someone does on `port`.
int Port(int port = 0) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = Loopback(port);
  socklen_t length = sizeof address;
  const auto* any = reinterpret_cast<sockaddr*>(&address);
  if (port != 0) port = ::connect(fd, any, length) == 0;
  else if (::bind(fd, any, length) == 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(fd);
  return port;
}

class CalibreServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "catalogue_server_tests";
    static char* argv[] = {name, nullptr};
    s_application = std::make_unique<QApplication>(argc, argv);
    if (!Shell("command -v calibre-server calibredb >/dev/null")) {
      s_skip = "calibre (calibre-server, calibredb) is not installed";
      return;
    }
    s_dir = std::make_unique<test::TempDir>();
    const std::string dir = s_dir->path();
    // Pages of a colour of each book's own, so that no two books are alike.
    std::string make = "cd '" + dir + "' && ";
    for (const auto& [book, colour] : kBooks)
      make += std::string("convert -size 60x80 xc:") + colour + " " + colour + ".png && zip -q -0 '" + book +
              ".cbz' " + colour + ".png && ";
    // The titles and authors come from the files' names; the user database
    // is made beside the library at the same time. calibredb refuses to run
    // beside any other calibre program of the user's (a lock of its own):
    // another run of this suite's calibredb is waited out.
    make += "{ calibre-server --userdb users.sqlite --manage-users -- add alice s3cret >/dev/null 2>&1 & "
            "for attempt in 1 2 3 4 5; do calibredb add --library-path lib *.cbz >calibredb.log 2>&1 && break; "
            "sleep 1; done; wait $!; } && test -f lib/metadata.db";
    if (!Shell(make)) {
      const std::string log = s_dir->ReadFile("calibredb.log");
      s_skip = "the library could not be made: " + log.substr(0, log.find('\n'));
      return;
    }
    s_port = Port();
    const std::string port = std::to_string(s_port), users = dir + "/users.sqlite", library = dir + "/lib";
    // Nor does the server take that lock: its library is its own, and
    // calibre's own programs may run beside it.
    ::setenv("CALIBRE_NO_SI_DANGER_DANGER", "1", 1);
    s_server = ::fork();
    if (s_server == 0) {
      ::setpgid(0, 0);  // its own group, so that its workers go with it
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 1), ::dup2(quiet, 2);
      ::execlp("calibre-server", "calibre-server", "--port", port.c_str(), "--listen-on", "127.0.0.1",
               "--enable-auth", "--auth-mode", "basic", "--userdb", users.c_str(), "--max-opds-items", "2",
               "--max-opds-ungrouped-items", "2", library.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::setpgid(s_server, s_server);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!Port(s_port) && std::chrono::steady_clock::now() < deadline && ::waitpid(s_server, nullptr, WNOHANG) == 0)
      std::this_thread::sleep_for(20ms);
    s_broken = !Port(s_port);
    if (s_broken) s_skip = "calibre-server did not start";
  }

  static void TearDownTestSuite() {
    // Killed outright, its whole group: its orderly shutdown takes seconds,
    // and its library is thrown away.
    if (s_server > 0) {
      ::kill(-s_server, SIGKILL);
      ::waitpid(s_server, nullptr, 0);
      s_server = 0;
    }
    s_dir.reset();
    s_application.reset();
  }

  void SetUp() override {
    if (s_broken) FAIL() << s_skip;
    if (!s_skip.empty()) GTEST_SKIP() << s_skip;
  }

  static std::u16string Url(const std::string& path) {
    const std::string url = "http://127.0.0.1:" + std::to_string(s_port) + path;
    return std::u16string(url.begin(), url.end());
  }

  // The feed at `url`, or nothing and the line the browser would show.
  std::optional<OpdsFeed> Read(const std::u16string& url, const std::optional<HttpCredentials>& user,
                               std::u16string* why) {
    return ReadFetchedFeed(m_client.FetchAndWait(FeedRequest(url, user)), user.has_value(), why);
  }
  OpdsFeed Feed(const std::u16string& url) {
    std::u16string why;
    std::optional<OpdsFeed> feed = Read(url, kUser, &why);
    EXPECT_TRUE(feed) << Narrow(url) << ": " << Narrow(why);
    return feed.value_or(OpdsFeed{});
  }

  // The root's "By Title" feed, the books in pages of two.
  OpdsFeed ByTitle(CatalogueBrowsing& browsing) {
    std::u16string byTitle;
    for (const OpdsEntry& entry : Feed(browsing.Url()).entries)
      if (entry.title == u"By Title" && entry.navigation) byTitle = entry.navigation->href;
    EXPECT_TRUE(browsing.Open(byTitle));
    return Feed(browsing.Url());
  }

  inline static std::unique_ptr<QApplication> s_application;
  inline static std::unique_ptr<test::TempDir> s_dir;
  inline static std::string s_skip;
  inline static bool s_broken = false;  // calibre is there, but its server did not start
  inline static pid_t s_server = 0;
  inline static int s_port = 0;
  HttpClient m_client;
};

TEST_F(CalibreServer, BrowsesDownAndPagesThroughTheBooks) {
  CatalogueBrowsing browsing(Url("/opds"));
  const OpdsFeed first = ByTitle(browsing);
  ASSERT_EQ(first.kind, OpdsFeedKind::Acquisition);
  ASSERT_EQ(first.entries.size(), 2u);
  EXPECT_EQ(first.entries[0].title, u"Alpha Book");
  EXPECT_EQ(first.entries[0].authors, std::vector<std::u16string>{u"Ann Author"});
  browsing.Arrived(first);
  ASSERT_TRUE(browsing.Go(BrowseMove::Next));
  const OpdsFeed second = Feed(browsing.Url());
  ASSERT_EQ(second.entries.size(), 1u);
  EXPECT_EQ(second.entries[0].title, u"Gamma Book");
  EXPECT_TRUE(BookLink(second.entries[0]));
  EXPECT_TRUE(browsing.Go(BrowseMove::Back));
  EXPECT_EQ(Feed(browsing.Url()).entries[1].title, u"Beta Book");
}

TEST_F(CalibreServer, SearchFindsABookByTitle) {
  const OpdsFeed root = Feed(Url("/opds"));
  ASSERT_TRUE(root.links.searchIsTemplate) << Narrow(root.links.search);
  const OpdsFeed found = Feed(FillSearchTemplate(root.links.search, u"Beta Book"));
  ASSERT_EQ(found.entries.size(), 1u);
  EXPECT_EQ(found.entries[0].title, u"Beta Book");
}

TEST_F(CalibreServer, CoversAndBooksCome) {
  CatalogueBrowsing browsing(Url("/opds"));
  const OpdsEntry entry = ByTitle(browsing).entries.at(0);
  const std::optional<OpdsLink> cover = CoverLink(entry);
  ASSERT_TRUE(cover);
  const HttpResponse picture = m_client.FetchAndWait(FeedRequest(cover->href, kUser));  // as the window asks
  EXPECT_FALSE(QImage::fromData(QByteArray::fromStdString(picture.body)).isNull()) << Narrow(picture.reason);

  const std::optional<OpdsLink> link = BookLink(entry);
  ASSERT_TRUE(link);
  const std::filesystem::path books = s_dir->path() + "/books";
  const std::u16string name = BookFileName(entry, *link);
  EXPECT_FALSE(CachedBook(books, name));
  std::filesystem::path got;
  std::u16string why;
  std::int64_t told = 0;
  QEventLoop loop;
  DownloadBook(m_client, BookDownloadRequest{link->href, kUser, books, name, kMaxBookBytes},
               [&](std::int64_t received, std::int64_t) { told = received; },
               [&](const std::filesystem::path& book, const std::u16string& line) {
                 got = book, why = line;
                 loop.quit();
               });
  loop.exec();
  ASSERT_FALSE(got.empty()) << Narrow(why);
  EXPECT_EQ(CachedBook(books, name), got);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(books), {}), 1);  // no part left over
  const std::string bytes = s_dir->ReadFile("books/" + got.filename().string());
  EXPECT_EQ(bytes, s_dir->ReadFile(std::string(kBooks[0][0]) + ".cbz"));
  EXPECT_EQ(told, static_cast<std::int64_t>(bytes.size()));
}

TEST_F(CalibreServer, ABookOpensThroughRangeRequests) {
  CatalogueBrowsing browsing(Url("/opds"));
  const std::optional<OpdsLink> link = BookLink(ByTitle(browsing).entries.at(1));
  ASSERT_TRUE(link);
  HttpFetchThread thread;
  const BlockingFetch fetch = [&thread](HttpRequest request) { return thread.Fetch(std::move(request)); };
  // Small blocks: the archive's end, its directory and the page each take
  // requests of their own.
  const RemoteFileOptions small{.blockSize = 64, .keptBlocks = 4, .blocksAtOnce = 2};
  EXPECT_EQ(ProbeWebAddress({Url("/opds"), kUser}, fetch, small).kind, WebAddressKind::Catalogue);
  EXPECT_NE(ProbeWebAddress({link->href, std::nullopt}, fetch, small).why, u"");  // no password, no book
  WebAddressProbe probe = ProbeWebAddress({link->href, kUser}, fetch, small);
  ASSERT_EQ(probe.kind, WebAddressKind::Book);
  ASSERT_TRUE(probe.opening.file) << "calibre did not honour a range: " << probe.opening.answer.status;
  ComRef<IDirectory> archive;
  ASSERT_EQ(OpenArchive(probe.opening.file.get(), &archive), 0);
  ComRef<IFile> page;
  ASSERT_EQ(archive->OpenFile(&page, u"/green.png", nullptr), 0);
  const std::string original = s_dir->ReadFile("green.png");
  std::string read(original.size() + 1, '\0');
  uint32_t got = 0;
  EXPECT_EQ(page->Read(read.data(), static_cast<uint32_t>(read.size()), &got), 0);
  read.resize(got);
  EXPECT_EQ(read, original);
  EXPECT_GT(probe.opening.count->requests.load(), 2u);
}

TEST_F(CalibreServer, AWrongPasswordIsSaidSo) {
  const std::pair<std::optional<HttpCredentials>, std::u16string> cases[] = {
      {HttpCredentials{u"alice", u"wrong"}, u"The user name or password was refused (401)."},
      {std::nullopt, u"The catalogue asks for a user name and password (401)."}};
  for (const auto& [user, line] : cases) {
    std::u16string why;
    EXPECT_FALSE(Read(Url("/opds"), user, &why));
    EXPECT_EQ(why, line);
  }
}

TEST_F(CalibreServer, TheWindowShowsTheFeed) {
  CatalogueBrowser browser([](const std::u16string&) {},
                           CatalogueBrowserOptions{.bookFolder = s_dir->path() + "/window-books",
                                                   .httpCacheFolder = s_dir->path() + "/http",
                                                   .maxBookBytes = kMaxBookBytes});
  browser.Open(Url("/opds"), kUser);
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (browser.Loading() && std::chrono::steady_clock::now() < deadline)
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  EXPECT_EQ(browser.FailureLine(), u"");
  EXPECT_EQ(browser.Title(), u"calibre Library");
  EXPECT_EQ(browser.EntryCount(), 4u);
}

}  // namespace
