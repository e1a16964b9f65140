// A file on a web server read through HTTP range requests: aligned blocks
// fetched as reads need them, a few kept, so that an archive on a book
// server opens by reading its directory and then only the pages read,
// never the whole file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ordel/FileSystem.h"
#include "platform/http/http_request.h"

// Does one fetch and waits for its answer (HttpFetchThread::Fetch, or a
// test's own server in memory).
using BlockingFetch = std::function<HttpResponse(HttpRequest)>;

struct RemoteFileOptions {
  std::uint32_t blockSize = 64 * 1024;
  std::size_t keptBlocks = 64;                // the cache, in blocks
  std::uint32_t blocksAtOnce = 64;            // a long read's blocks, in one request at most
  std::chrono::milliseconds totalLimit{30000};  // each request's, all told
  std::chrono::milliseconds stallLimit{10000};  // each request's, without a byte
};

// What a remote file has cost so far: shared, so that it outlives the file.
struct RemoteFileCount {
  std::atomic<std::uint64_t> bytes{0};
  std::atomic<std::uint32_t> requests{0};
};

// Where the file is and how it is asked for.
struct RemoteAddress {
  std::u16string url;
  std::optional<HttpCredentials> credentials;  // sent to the URL's own origin only
};

class CRemoteFile final : public CUnknownImpl<IFile> {
 public:
  // `size` as the server gave it; `first` the bytes already fetched from
  // the file's start (the probe's), kept as its first blocks.
  CRemoteFile(RemoteAddress address, BlockingFetch fetch, std::uint64_t size, const std::string& first,
              const RemoteFileOptions& options, std::shared_ptr<RemoteFileCount> count);

  // A read the server does not answer whole fails (1) with what came
  // before the failure: a damaged entry to the archive routes, never a hang.
  int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override;
  int32_t Reserved() override { return FILE_SYSTEM_FAILED; }
  int32_t Seek(int64_t distance, uint32_t origin, uint64_t* newPosition) override;
  int32_t GetSize(uint64_t* size) override;

 private:
  struct Block {
    std::uint64_t index;
    std::string bytes;
  };
  // The block at `index`, from the cache or fetched with those after it
  // up to `last` (both included); null when the server fails.
  const std::string* BlockAt(std::uint64_t index, std::uint64_t last);
  void Keep(std::uint64_t index, std::string bytes);

  const RemoteAddress m_address;
  const BlockingFetch m_fetch;
  const std::uint64_t m_size;
  const RemoteFileOptions m_options;
  const std::shared_ptr<RemoteFileCount> m_count;
  std::mutex m_mutex;          // the position and the blocks: reads come from several threads
  std::uint64_t m_position = 0;
  std::list<Block> m_blocks;   // the most recently used first
};

// The request for bytes `first` to `last` of the file at `address`,
// bounded in bytes and time.
HttpRequest RangeRequest(const RemoteAddress& address, std::uint64_t first, std::uint64_t last,
                         const RemoteFileOptions& options);

// How a first range request for a book's address went.
struct RemoteOpening {
  ComRef<IFile> file;      // when the server honoured the range and said the size
  HttpResponse answer;     // the first answer (its body moved into the file when there is one)
  std::shared_ptr<RemoteFileCount> count = std::make_shared<RemoteFileCount>();
};

// The file at `address` from the answer to its first block's request
// (RangeRequest of bytes 0 to blockSize - 1): none when the server did not
// honour the range.
RemoteOpening RemoteFileOf(const RemoteAddress& address, HttpResponse first, BlockingFetch fetch,
                           const RemoteFileOptions& options = {});
// Asks for the first block of `address`: a file over range requests when
// the server honours them, else none and the answer (the caller downloads
// the book whole, or says why not).
RemoteOpening OpenRemoteFile(const RemoteAddress& address, const BlockingFetch& fetch,
                             const RemoteFileOptions& options = {});
