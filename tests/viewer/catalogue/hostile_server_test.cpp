// The catalogue browser and its book downloads against a server that
// misbehaves (tests/support/hostile_server.py): each fetch ends within its
// limits with one line saying why and a Retry, never a hang or a crash.
#include <gtest/gtest.h>

#include <signal.h>

#include <QtNetwork/QSslCertificate>
#include <QtNetwork/QSslConfiguration>
#include <QtWidgets/QApplication>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "platform/http/http_client.h"
#include "viewer/catalogue/CatalogueBrowser.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A silent server meets the stall limit first; the limit all told bounds
// every wait.
constexpr auto kLimit = 1000ms, kStall = 300ms;
// The limits of the TLS cases, which test no limit.
constexpr auto kTlsLimit = 5000ms;
// What the sanitizers' builds and a busy machine may add past a limit.
constexpr auto kSlack = 1500ms;

std::string Narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }
std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class HostileServer : public ::testing::Test {
 protected:
  void SetUp() override {
    // Without openssl, no certificate: the server has no TLS port (0).
    [[maybe_unused]] const int made =
        ::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=127.0.0.1 "
                  "-addext subjectAltName=IP:127.0.0.1 -keyout " + m_dir / "key.pem" + " -out " + m_dir / "cert.pem" +
                  " 2>/dev/null").c_str());
    const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    m_output = ::popen(("exec " + python + " " HOSTILE_SERVER " " + m_dir / "cert.pem " + m_dir / "key.pem").c_str(),
                       "r");
    ASSERT_NE(m_output, nullptr);
    ASSERT_EQ(std::fscanf(m_output, "%d %d %d %d", &m_pid, &m_ports[0], &m_ports[1], &m_ports[2]), 4);
  }
  void TearDown() override {
    m_browser.reset();
    if (m_pid > 0) ::kill(m_pid, SIGTERM);
    if (m_output != nullptr) ::pclose(m_output);
  }

  std::string Address(int server, const std::string& path) const {
    return (server == 2 ? "https" : "http") + ("://127.0.0.1:" + std::to_string(m_ports[server])) + path;
  }

  // A browser of its own: no connection of an earlier one is reused. Over
  // TLS the limits are those of a silent server only: a handshake on a
  // busy machine may take longer than the stall limit.
  CatalogueBrowser& Browser(bool tls = false) {
    m_browser.reset();
    m_opened.clear();
    const auto limit = tls ? kTlsLimit : kLimit, stall = tls ? kTlsLimit : kStall;
    m_browser = std::make_unique<CatalogueBrowser>(
        [this](const std::u16string& path) { m_opened = path; },
        CatalogueBrowserOptions{.bookFolder = m_dir / "books", .httpCacheFolder = m_dir / "http",
                                .maxBookBytes = 1 << 20, .feedLimit = limit, .stallLimit = stall,
                                .bookLimit = limit, .bookStallLimit = stall});
    return *m_browser;
  }

  // Runs the event loop while `busy` says so, and says how long that took.
  template <typename Busy>
  Clock::duration Wait(Busy busy) {
    const auto start = Clock::now();
    while (busy() && Clock::now() - start < kTlsLimit + kSlack)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents();  // what the answer posted, the book's opening too
    return Clock::now() - start;
  }

  // The browser has come to rest on a failure said in one line, with Retry.
  void ExpectFailed(const std::string& what, const std::u16string& opening, Clock::duration took, bool tls = false) {
    const std::u16string line = m_browser->FailureLine();
    EXPECT_EQ(line.substr(0, opening.size()), opening) << what << ": " << Narrow(line);
    EXPECT_EQ(line.find_first_of(u"\r\n"), std::u16string::npos) << what;
    EXPECT_TRUE(m_browser->RetryOffered()) << what;
    EXPECT_FALSE(m_browser->Loading() || m_browser->Downloading()) << what;
    EXPECT_LT(took, (tls ? kTlsLimit : kLimit) + kSlack) << what;
  }

  // Each case a feed (opened) or a book (picked in a feed that leads to
  // it); the https ones against a certificate not trusted.
  void FailInOneLine(bool books) {
    const std::string elsewhere = "/redirect?" + Address(1, "/private");
    const struct {
      bool book;
      int server;
      std::string path;
      std::u16string opening;
    } cases[] = {
        {false, 0, "/slow", u"The server took too long"},
        {false, 0, "/stall", u"The server took too long"},
        {false, 0, "/drop", u"The server could not be reached"},
        {false, 0, "/html", u"The address gives a web page, not a catalogue feed."},
        {false, 0, "/huge", u"The feed is too large"},
        {false, 0, "/endless", u"The feed is too large"},
        {false, 0, "/many?1000000", u"The feed is too large"},
        {false, 0, "/deep", u"Not a catalogue feed"},
        {false, 0, "/loop", u"The server's redirect was not followed"},
        {false, 0, elsewhere, u"A server elsewhere asks for a user name and password (401)"},
        {false, 2, "/feed?/book", u"The secure connection failed: TLS: "},
        {true, 0, "/slow", u"The book could not be downloaded: timed out"},
        {true, 0, "/stall", u"The book could not be downloaded: timed out"},
        {true, 0, "/drop", u"The book could not be downloaded: no answer"},
        {true, 0, "/html", u"The server gave a web page, not the book."},
        {true, 0, "/huge", u"The book is too large"},
        {true, 0, "/endless", u"The book is too large"},
        {true, 0, "/loop", u"The book could not be downloaded: redirect refused"},
        {true, 0, elsewhere, u"The server asks for a user name and password (401)."},
    };
    for (const auto& c : cases) {
      if (c.book != books || (c.server == 2 && m_ports[2] == 0)) continue;  // no openssl, no certificate
      CatalogueBrowser& browser = Browser(c.server == 2);
      browser.Open(Wide(Address(c.server, c.book ? "/feed?" + c.path : c.path)), HttpCredentials{u"u", u"p"});
      const Clock::duration took = Wait([&] { return browser.Loading(); });
      if (c.book) {
        ASSERT_EQ(browser.EntryCount(), 1u) << c.path << ": " << Narrow(browser.FailureLine());
        browser.Activate(0);
        EXPECT_TRUE(browser.Downloading()) << c.path;
        ExpectFailed(c.path, c.opening, Wait([&] { return browser.Downloading(); }));
        EXPECT_TRUE(m_opened.empty() && std::filesystem::is_empty(m_dir / "books")) << c.path;  // no part left
        // Retry asks for the book again, not the feed, and the line goes.
        browser.Retry();
        EXPECT_TRUE(browser.Downloading() && !browser.Loading() && browser.FailureLine().empty()) << c.path;
      } else {
        ExpectFailed(c.path, c.opening, took, c.server == 2);
        EXPECT_EQ(browser.EntryCount(), 0u) << c.path;
      }
    }
    // The credentials went to the catalogue's origin alone.
    HttpRequest seen;
    seen.url = Wide(Address(1, "/seen"));
    EXPECT_EQ(HttpClient().FetchAndWait(seen).body, "no");
  }

  int m_argc = 1;
  char m_name[8] = "hostile";
  char* m_argv[1] = {m_name};
  QApplication m_application{m_argc, m_argv};
  test::TempDir m_dir;
  std::unique_ptr<CatalogueBrowser> m_browser;
  std::u16string m_opened;
  FILE* m_output = nullptr;
  int m_pid = 0, m_ports[3] = {};
};

TEST_F(HostileServer, FeedsFailInOneLine) { FailInOneLine(false); }

TEST_F(HostileServer, BooksFailInOneLineAndLeaveNothing) { FailInOneLine(true); }

TEST_F(HostileServer, WhatIsWithinBoundsComes) {
  // Entries past the cap are left out, the rest shown; a book opens.
  CatalogueBrowser& many = Browser();
  many.Open(Wide(Address(0, "/many?6000")));
  Wait([&] { return many.Loading(); });
  EXPECT_EQ(many.FailureLine(), u"");
  EXPECT_EQ(many.EntryCount(), 5000u);
  CatalogueBrowser& book = Browser();
  book.Open(Wide(Address(0, "/feed?/book")));
  Wait([&] { return book.Loading(); });
  book.Activate(0);
  Wait([&] { return book.Downloading(); });
  EXPECT_EQ(book.FailureLine(), u"");
  EXPECT_EQ(std::filesystem::path(m_opened).parent_path(), m_dir / "books");
  // Trusted, TLS is still never left for plain HTTP.
  if (m_ports[2] == 0) return;
  QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
  trusted.addCaCertificates(QSslCertificate::fromPath(QString::fromStdString(m_dir / "cert.pem")));
  QSslConfiguration::setDefaultConfiguration(trusted);
  CatalogueBrowser& down = Browser(true);
  down.Open(Wide(Address(2, "/redirect?" + Address(0, "/feed?/book"))));
  ExpectFailed("to http", u"The server's redirect was not followed: redirect refused: from https to http",
               Wait([&] { return down.Loading(); }), true);
}

}  // namespace
