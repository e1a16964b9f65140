// A directory whose files read only when the test lets them: a load can be
// held "under way" on a worker while the test asks for the same page.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "ordel/FileSystem.h"

namespace test {

// (Held in the read, not the open: a book opens one file at a time.)
// Counts the opens of each path and notes the thread that opened it.
class HeldDirectory final : public CUnknownImpl<IDirectory> {
 public:
  explicit HeldDirectory(IDirectory* inner) { m_inner.Set(inner); }
  int32_t OpenFile(IFile** out, const char16_t* path, void* reserved) override {
    {
      std::lock_guard<std::mutex> hold(m_lock);
      ++m_opens[path];
      m_openedOn[path] = std::this_thread::get_id();
      m_changed.notify_all();
    }
    ComRef<IFile> file;
    if (m_inner->OpenFile(&file, path, reserved) != 0) return 1;
    return HandOut(new HeldFile(this, path, file.get()), IID_IFile, reinterpret_cast<void**>(out)) == S_OK ? 0 : 1;
  }
  int32_t Mount(const char16_t* path, IDirectory* directory) override { return m_inner->Mount(path, directory); }
  int32_t GetEntries(const char16_t* path, IFileSystemEntries** out) override { return m_inner->GetEntries(path, out); }

  void Block(const std::u16string& path) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_held.insert(path);
  }
  void Unblock(const std::u16string& path) {
    std::lock_guard<std::mutex> hold(m_lock);
    m_held.erase(path);
    m_changed.notify_all();
  }
  // Waits until the file was opened (so its load is under way).
  bool WaitForOpen(const std::u16string& path) {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_changed.wait_for(hold, std::chrono::seconds(20), [&] { return m_opens[path] > 0; });
  }
  int Opens(const std::u16string& path) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_opens[path];
  }
  std::thread::id OpenedOn(const std::u16string& path) {
    std::lock_guard<std::mutex> hold(m_lock);
    return m_openedOn[path];
  }

 private:
  class HeldFile final : public CUnknownImpl<IFile> {
   public:
    HeldFile(HeldDirectory* owner, std::u16string path, IFile* inner) : m_path(std::move(path)) {
      m_owner.Set(owner);
      m_inner.Set(inner);
    }
    int32_t Read(void* buffer, uint32_t bytes, uint32_t* bytesRead) override {
      {
        std::unique_lock<std::mutex> hold(m_owner->m_lock);
        m_owner->m_changed.wait(hold, [&] { return !m_owner->m_held.count(m_path); });
      }
      return m_inner->Read(buffer, bytes, bytesRead);
    }
    int32_t Reserved() override { return 1; }
    int32_t Seek(int64_t distance, uint32_t origin, uint64_t* position) override {
      return m_inner->Seek(distance, origin, position);
    }
    int32_t GetSize(uint64_t* size) override { return m_inner->GetSize(size); }

   private:
    ComRef<HeldDirectory> m_owner;
    ComRef<IFile> m_inner;
    std::u16string m_path;
  };

  ComRef<IDirectory> m_inner;
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::set<std::u16string> m_held;
  std::map<std::u16string, int> m_opens;
  std::map<std::u16string, std::thread::id> m_openedOn;
};

}  // namespace test
