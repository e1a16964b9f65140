// Openings that wait on a web server, done off the window's thread: the
// window keeps painting and answering keys and its close box while a slow
// server takes its time, and the book on screen stays until the new one
// has opened. Only the latest opening's result is taken; one that another
// opening, or the window's end, came before is dropped when it comes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class CRemoteOpenings {
 public:
  // What an opening found, done on the window's thread.
  using Then = std::function<void()>;
  struct Shared;
  // An opening's own handle, for its job.
  class Ticket {
   public:
    // Runs `call` on the window's thread and waits for it there (a password
    // asked over the window); false, without running it, once the opening
    // is dropped.
    bool OnWindowThread(const std::function<void()>& call) const;

   private:
    friend class CRemoteOpenings;
    Ticket(std::shared_ptr<Shared> shared, std::uint64_t generation)
        : m_shared(std::move(shared)), m_generation(generation) {}
    std::shared_ptr<Shared> m_shared;
    std::uint64_t m_generation;
  };
  // Waits on the server off the window's thread; what it returns is done
  // on the window's thread. Its debug lines are written just before that.
  using Job = std::function<Then(const Ticket& ticket)>;

  // `post` asks the window's thread, from an opening's, to call Take soon
  // (a message posted to the window); false when it cannot (a window
  // without a message queue, whose owner calls Take itself).
  explicit CRemoteOpenings(std::function<bool()> post);
  // Drops what is under way and waits for its threads: the program makes
  // sure first (Done) that none still waits on a server.
  ~CRemoteOpenings();
  CRemoteOpenings(const CRemoteOpenings&) = delete;
  CRemoteOpenings& operator=(const CRemoteOpenings&) = delete;

  // Drops the opening under way, if any, and starts `job` on a thread of its own.
  void Start(Job job);
  // The opening under way is moot (another book opened, the window closes).
  void Drop();
  // On the window's thread when asked: the calls the jobs wait for, then the
  // latest opening's result when it is in.
  void Take();
  // Whether every opening's thread has ended within `within`.
  bool Done(std::chrono::milliseconds within);

 private:
  struct Running {
    std::thread thread;
    std::shared_ptr<bool> ended;  // guarded by the shared mutex
  };
  void JoinEnded();

  std::shared_ptr<Shared> m_shared;
  std::vector<Running> m_running;
};
