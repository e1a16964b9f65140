// A web address given to the window (on the command line, dropped, picked
// from the history), opened: its server asked once what it is, off the
// window's thread, then on it a catalogue browsed, a book read in place
// where the server honours range requests, or one it sends only whole
// downloaded into the book cache and opened from there; each request with
// the credentials of the catalogue kept for its origin, when there is one.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/http_client.h"
#include "viewer/catalogue/RemoteBook.h"

// Where an address ends up, each on the window's thread.
struct AddressTargets {
  std::function<void(const std::u16string& url, const std::optional<HttpCredentials>& credentials)>
      browse;                                                // a catalogue
  std::function<void(const std::u16string& path)> openFile;  // a book downloaded whole
  std::function<void(const RemoteBook& book)> openRemote;    // read in place; no file: it could not be
  std::function<void(const std::u16string& url, const std::u16string& why)> say;  // why not
};

class CAddressOpening {
 public:
  // `bookFolder` empty: DefaultBookCacheFolder().
  CAddressOpening(BlockingFetch fetch, AddressTargets targets, std::filesystem::path bookFolder = {});
  ~CAddressOpening();
  CAddressOpening(const CAddressOpening&) = delete;
  CAddressOpening& operator=(const CAddressOpening&) = delete;

  // The opening of `url`: a job that waits for the server's first answer
  // (run off the window's thread) and returns what finishes it on the
  // window's thread (Finish). The job uses nothing of this object, what it
  // returns does: the object outlives the window's openings. `credentials`
  // go with every request for the address, to its own origin only.
  std::function<std::function<void()>()> Opening(const std::u16string& url,
                                                 std::optional<HttpCredentials> credentials = std::nullopt);
  // What the window does with the answer about `url`.
  void Finish(const std::u16string& url, WebAddressProbe probe,
              const std::optional<HttpCredentials>& credentials = std::nullopt);

 private:
  const BlockingFetch m_fetch;
  const AddressTargets m_targets;
  const std::filesystem::path m_bookFolder;
  std::unique_ptr<HttpClient> m_downloads;  // made at the first book sent only whole
};
