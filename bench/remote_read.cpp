// What reading a book on a web server through range requests costs: the
// bytes and requests to open its archive, then to read its first page, then
// each further page asked for. bench/remote_cbz.sh serves it with calibre.
//   remote-read URL [USER PASSWORD] [PAGES]
#include <QtCore/QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/http/http_fetch_thread.h"
#include "platform/text.h"
#include "viewer/archive/Archive.h"
#include "viewer/book/Book.h"
#include "viewer/catalogue/RemoteBook.h"

namespace {

struct Mark {
  std::uint64_t bytes;
  std::uint32_t requests;
};

Mark Now(const RemoteFileCount& count) { return {count.bytes.load(), count.requests.load()}; }

void Say(const char* what, const Mark& from, const Mark& to, std::uint64_t read, double ms) {
  std::printf("%-22s %10.2f MiB fetched in %4u requests (%10.2f MiB of entries read) %8.1f ms\n", what,
              static_cast<double>(to.bytes - from.bytes) / 1048576.0, to.requests - from.requests,
              static_cast<double>(read) / 1048576.0, ms);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: remote-read URL [USER PASSWORD] [PAGES]\n");
    return 2;
  }
  QCoreApplication application(argc, argv);
  RemoteAddress address{Utf8ToUtf16(argv[1]), std::nullopt};
  if (argc >= 4 && argv[2][0] != 0) address.credentials = HttpCredentials{Utf8ToUtf16(argv[2]), Utf8ToUtf16(argv[3])};
  const int pages = argc >= 5 ? std::atoi(argv[4]) : 5;
  HttpFetchThread thread;
  const BlockingFetch fetch = [&thread](HttpRequest request) { return thread.Fetch(std::move(request)); };
  using Clock = std::chrono::steady_clock;
  const auto ms = [](Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
  };

  auto start = Clock::now();
  WebAddressProbe probe = ProbeWebAddress(address, fetch);
  if (probe.kind != WebAddressKind::Book || !probe.opening.file) {
    std::fprintf(stderr, "not a book read through ranges: %s\n", Utf16ToUtf8(probe.why).c_str());
    return 1;
  }
  const RemoteFileCount& count = *probe.opening.count;
  std::uint64_t size = 0;
  probe.opening.file->GetSize(&size);
  std::printf("archive: %.2f MiB\n", static_cast<double>(size) / 1048576.0);
  const Mark none{0, 0};
  ComRef<IDirectory> archive;
  if (OpenArchive(probe.opening.file.get(), &archive) != 0) {
    std::fprintf(stderr, "the archive does not open\n");
    return 1;
  }
  Mark opened = Now(count);
  Say("listed", none, opened, 0, ms(start));
  std::vector<PageEntry> entries;
  ListEntries(archive.get(), u"/", entries);
  SortByName(entries, NameOrder::Natural);
  Mark before = opened;
  std::uint64_t readAll = 0;
  int shown = 0;
  for (const PageEntry& entry : entries) {
    if (entry.state == PageState::Folder || shown >= pages) continue;
    start = Clock::now();
    ComRef<IFile> file;
    std::uint64_t read = 0;
    if (archive->OpenFile(&file, entry.path.c_str(), nullptr) == 0) {
      std::vector<char> buffer(1 << 20);
      uint32_t got = 0;
      while (file->Read(buffer.data(), static_cast<uint32_t>(buffer.size()), &got) == 0 && got > 0) read += got;
    }
    readAll += read;
    const Mark after = Now(count);
    Say(shown == 0 ? "first page" : "next page", before, after, read, ms(start));
    if (shown == 0)
      std::printf("%-22s %10.2f MiB fetched (goal: at most 2 MB)\n", "to the first page",
                  static_cast<double>(after.bytes) / 1048576.0);
    before = after;
    ++shown;
  }
  const Mark end = Now(count);
  std::printf("all told: %.2f MiB fetched for %.2f MiB of pages read of a %.2f MiB archive (%u requests)\n",
              static_cast<double>(end.bytes) / 1048576.0, static_cast<double>(readAll) / 1048576.0,
              static_cast<double>(size) / 1048576.0, end.requests);
  return 0;
}
