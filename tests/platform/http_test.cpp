// The HTTP client against a real server of the test's own (Python's, on
// three ports of 127.0.0.1: two origins over HTTP, one over TLS with a
// certificate made for the test), and its rules without a network.
#include <gtest/gtest.h>

#include <signal.h>

#include <QtCore/QCoreApplication>
#include <QtNetwork/QSslCertificate>
#include <QtNetwork/QSslConfiguration>

#include <cstdio>
#include <future>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/http/http_client.h"
#include "platform/http/http_fetch_thread.h"
#include "platform/http/http_rules.h"

namespace {

constexpr char kServer[] = R"(import http.server, os, sys, threading, time, urllib.parse
BODY = bytes(range(256)) * 4
class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'
    def log_message(self, *args): pass
    def answer(self, code, body, headers=(), length=None):
        self.send_response(code)
        for header in [*headers, ('Content-Length', len(body) if length is None else length)]: self.send_header(*header)
        self.end_headers(); self.wfile.write(body)
    def do_GET(self):
        path, _, query = self.path.partition('?')
        if path == '/plain': self.answer(200, b'hello', [('Content-Type', 'text/plain')])
        elif path == '/range':
            first, last = map(int, self.headers['Range'][6:].split('-'))
            self.answer(206, BODY[first:last + 1], [('Content-Range', f'bytes {first}-{last}/{len(BODY)}')])
        elif path == '/norange': self.answer(200, BODY)
        elif path == '/big': self.answer(200, b'x' * 100000)
        elif path == '/lie': self.answer(200, b'x' * 100000, length=10)
        elif path == '/stream':
            self.send_response(200); self.send_header('Connection', 'close'); self.end_headers()
            self.wfile.write(b'x' * 100000); self.close_connection = True
        elif path in ('/stall', '/drip'):
            self.send_response(200); self.send_header('Content-Length', '100'); self.end_headers()
            for _ in range(40): self.wfile.write(b'x'); self.wfile.flush(); time.sleep(2 if path == '/stall' else 0.05)
        elif path == '/auth': self.answer(200, b'yes' if 'Authorization' in self.headers else b'no')
        elif path == '/redirect': self.answer(302, b'', [('Location', urllib.parse.unquote(query))])
        elif path == '/loop': self.answer(302, b'', [('Location', '/loop')])
        elif path == '/cookie': self.answer(200, self.headers.get('Cookie', 'none').encode(), [('Set-Cookie', 'a=b')])
        elif path == '/cached': self.answer(200, str(time.monotonic_ns()).encode(), [('Cache-Control', 'max-age=600')])
        else: self.answer(404, b'')
class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    def handle_error(self, *args): pass  # the client hung up, as it should
servers = [Server(('127.0.0.1', 0), Handler) for _ in range(3)]
if os.path.exists(sys.argv[1]):  # the third over TLS, when there is a certificate
    import ssl
    tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER); tls.load_cert_chain(sys.argv[1], sys.argv[2])
    servers[2].socket = tls.wrap_socket(servers[2].socket, server_side=True)
for server in servers:
    threading.Thread(target=server.serve_forever, daemon=True).start()
print(os.getpid(), *[server.server_address[1] for server in servers], flush=True)
threading.Event().wait()
)";

class Http : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir.WriteFile("server.py", kServer);
    // Debian's own Python when there, not a version manager's shim of it.
    const std::string python = std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    m_tls = ::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 1 -subj /CN=127.0.0.1 "
              "-addext subjectAltName=IP:127.0.0.1 -keyout " + m_dir / "key.pem" + " -out " + m_dir / "cert.pem" +
              " 2>/dev/null").c_str()) == 0;
    m_output = ::popen(("exec " + python + " " + m_dir / "server.py " + m_dir / "cert.pem " + m_dir / "key.pem").c_str(), "r");
    ASSERT_NE(m_output, nullptr);
    ASSERT_EQ(std::fscanf(m_output, "%d %d %d %d", &m_pid, &m_ports[0], &m_ports[1], &m_ports[2]), 4);
  }
  void TearDown() override {
    if (m_pid > 0) ::kill(m_pid, SIGTERM);
    if (m_output != nullptr) ::pclose(m_output);
  }
  std::string Address(int server, const std::string& path) const {
    return (server == 2 ? "https" : "http") + ("://127.0.0.1:" + std::to_string(m_ports[server])) + path;
  }
  HttpRequest Request(const std::string& path, int server = 0) const {
    const std::string url = Address(server, path);
    HttpRequest request;
    request.url.assign(url.begin(), url.end());
    return request;
  }
  HttpResponse Get(const std::string& path, HttpCacheUse cache = HttpCacheUse::Bypass) {
    HttpRequest request = Request(path);
    request.cache = cache;
    return m_client.FetchAndWait(request);
  }

  int m_argc = 1;
  char m_name[5] = "http";
  char* m_argv[1] = {m_name};
  QCoreApplication m_application{m_argc, m_argv};
  test::TempDir m_dir;
  HttpClient m_client{HttpClientOptions{.cacheFolder = m_dir / "cache", .cacheMaxBytes = 1 << 20}};
  FILE* m_output = nullptr;
  int m_pid = 0, m_ports[3] = {};
  bool m_tls = false;
};

TEST_F(Http, AnswersWithinTheirBounds) {
  using namespace std::chrono_literals;
  const HttpByteRange tenth{10, 19};
  struct Case {
    const char* path;
    std::optional<HttpByteRange> range;
    std::chrono::milliseconds stall, total;
    HttpError error;
    std::size_t size;
  } const cases[] = {
      {"/plain", {}, 1s, 2s, HttpError::None, 5},
      {"/range", tenth, 1s, 2s, HttpError::None, 10},
      {"/norange", tenth, 1s, 2s, HttpError::None, 1024},
      {"/big", {}, 1s, 2s, HttpError::TooLarge, 0},
      {"/stream", {}, 1s, 2s, HttpError::TooLarge, 0},
      {"/lie", {}, 1s, 2s, HttpError::None, 10},  // what was announced, and no more
      {"/missing", {}, 1s, 2s, HttpError::Status, 0},
      {"/stall", {}, 200ms, 2s, HttpError::Timeout, 0},
      {"/drip", {}, 1s, 300ms, HttpError::Timeout, 0},
      {"/loop", {}, 1s, 2s, HttpError::RefusedRedirect, 0},
      {"/redirect?ftp://127.0.0.1/", {}, 1s, 2s, HttpError::RefusedRedirect, 0},
  };
  for (const Case& c : cases) {
    HttpRequest request = Request(c.path);
    request.maxBytes = 4096;
    request.range = c.range;
    request.totalLimit = c.total;
    request.stallLimit = c.stall;
    HttpClient anew;  // the first client keeps its connection, made before the certificate was trusted
  const HttpResponse r = anew.FetchAndWait(request);
    EXPECT_EQ(r.error, c.error) << c.path << ": " << std::string(r.reason.begin(), r.reason.end());
    EXPECT_EQ(r.error == HttpError::None, r.reason.empty()) << c.path;
    EXPECT_EQ(r.body.size(), c.error == HttpError::None ? c.size : r.body.size()) << c.path;
    EXPECT_EQ(r.rangeHonoured, std::string(c.path) == "/range") << c.path;
    if (r.rangeHonoured) {
      EXPECT_EQ(r.body.front(), '\x0a');
      EXPECT_EQ(r.totalSize, 1024);
    }
  }
  EXPECT_EQ(Get("/plain").contentType, "text/plain");
  EXPECT_EQ(Get("/missing").status, 404);
}

TEST_F(Http, CredentialsStayWithTheirOrigin) {
  const std::pair<std::string, std::string> cases[] = {
      {"/auth", "yes"}, {"/redirect?/auth", "yes"}, {"/redirect?" + Address(1, "/auth"), "no"}};
  for (const auto& [path, sent] : cases) {
    HttpRequest request = Request(path);
    request.credentials = HttpCredentials{u"u", u"p"};
    EXPECT_EQ(m_client.FetchAndWait(request).body, sent) << path;
  }
  EXPECT_EQ(Get("/auth").body, "no");
}

TEST_F(Http, NoCookiesAndTheCacheOnlyWhenAsked) {
  EXPECT_EQ(Get("/cookie").body, "none");
  EXPECT_EQ(Get("/cookie").body, "none");
  const HttpResponse first = Get("/cached", HttpCacheUse::Revalidate);
  const HttpResponse again = Get("/cached", HttpCacheUse::Revalidate);
  EXPECT_EQ(again.body, first.body);
  EXPECT_TRUE(again.fromCache);
  EXPECT_NE(Get("/cached").body, first.body);
}

// A download goes to its sink, through a redirect, and never past the cap;
// a failed answer's body is kept as ever.
TEST_F(Http, BodiesGoToTheSinkWithinTheCap) {
  const struct {
    const char* path;
    std::int64_t cap;
    bool accept;
    HttpError error;
    std::size_t sunk, kept;
  } cases[] = {
      {"/redirect?/norange", 4096, true, HttpError::None, 1024, 0},
      {"/big", 4096, true, HttpError::TooLarge, 0, 0},
      {"/stream", 4096, true, HttpError::TooLarge, 4096, 0},
      {"/norange", 4096, false, HttpError::Write, 1024, 0},
      {"/missing", 4096, true, HttpError::Status, 0, 0},
  };
  for (const auto& c : cases) {
    std::string sunk;
    std::int64_t told = 0;
    HttpRequest request = Request(c.path);
    request.maxBytes = c.cap;
    request.bodySink = [&](std::string_view bytes) { return sunk.append(bytes), c.accept; };
    request.progress = [&](std::int64_t received, std::int64_t) { told = received; };
    const HttpResponse r = m_client.FetchAndWait(request);
    EXPECT_EQ(r.error, c.error) << c.path;
    EXPECT_LE(sunk.size(), c.sunk) << c.path;
    EXPECT_EQ(r.body.size(), c.kept) << c.path;
    const bool whole = sunk.size() == 1024 && told == 1024 && r.totalSize == 1024;
    EXPECT_TRUE(c.error != HttpError::None || whole) << c.path;
  }
}

TEST_F(Http, ACancelledFetchIsAnsweredAtOnce) {
  std::optional<HttpError> error;
  m_client.Cancel(m_client.Fetch(Request("/stall"), [&](HttpResponse r) { error = r.error; }));
  EXPECT_EQ(error, HttpError::Cancelled);
}

TEST_F(Http, AFetchThreadAnswersReadersOnAnyThreadAndLetsThemGoAtItsEnd) {
  auto fetcher = std::make_unique<HttpFetchThread>();
  std::vector<std::thread> readers;
  std::vector<std::string> got(3);
  for (int reader = 0; reader < 3; ++reader)
    readers.emplace_back([&, reader] {
      for (int n = 0; n < 4; ++n) {
        HttpRequest request = Request("/range");
        request.range = HttpByteRange{reader * 100 + n * 10, reader * 100 + n * 10 + 9};
        got[static_cast<std::size_t>(reader)] += fetcher->Fetch(request).body;
      }
    });
  for (std::thread& reader : readers) reader.join();
  for (int reader = 0; reader < 3; ++reader)
    for (int i = 0; i < 40; ++i) EXPECT_EQ(static_cast<unsigned char>(got[static_cast<std::size_t>(reader)][static_cast<std::size_t>(i)]), reader * 100 + i);
  // A reader still waiting when the thread ends is answered, not left hanging.
  std::promise<void> begun;
  HttpRequest stalled = Request("/stall");
  stalled.progress = [&begun, once = std::make_shared<std::once_flag>()](std::int64_t, std::int64_t) {
    std::call_once(*once, [&begun] { begun.set_value(); });
  };
  auto waiting = std::async(std::launch::async, [&] { return fetcher->Fetch(stalled).error; });
  begun.get_future().wait();
  fetcher.reset();
  EXPECT_EQ(waiting.get(), HttpError::Cancelled);
}

TEST_F(Http, TlsIsVerifiedAndNeverLeftForPlainHttp) {
  if (!m_tls) GTEST_SKIP() << "no openssl to make a certificate";
  const HttpRequest request = Request("/redirect?" + Address(0, "/plain"), 2);
  EXPECT_EQ(m_client.FetchAndWait(request).error, HttpError::Tls);  // not yet trusted
  QSslConfiguration trusted = QSslConfiguration::defaultConfiguration();
  trusted.addCaCertificates(QSslCertificate::fromPath(QString::fromStdString(m_dir / "cert.pem")));
  QSslConfiguration::setDefaultConfiguration(trusted);
  HttpClient anew;  // the first client keeps its connection, made before the certificate was trusted
  const HttpResponse r = anew.FetchAndWait(request);
  EXPECT_EQ(r.error, HttpError::RefusedRedirect) << std::string(r.reason.begin(), r.reason.end());
}

// Redirects off HTTPS or to other schemes are refused above, for real.
TEST(HttpRules, CredentialsAndRanges) {
  const HttpOrigin origin{u"https", u"a.example", 443};
  EXPECT_TRUE(CredentialsGoTo(origin, origin));
  for (const HttpOrigin& other : {HttpOrigin{u"http", u"a.example", 443}, HttpOrigin{u"https", u"a.example", 8443},
                                  HttpOrigin{u"https", u"b.example", 443}})
    EXPECT_FALSE(CredentialsGoTo(origin, other));
  EXPECT_EQ(ParseContentRange("bytes 0-99/1234")->total, 1234);
  EXPECT_EQ(ParseContentRange("bytes 0-99/*")->total, std::nullopt);
  for (const char* bad : {"bytes 9-0/10", "bytes 0-99/99", "items 0-1/2", "bytes -1-2/5", "bytes 0-1"})
    EXPECT_FALSE(ParseContentRange(bad)) << bad;
}

}  // namespace
