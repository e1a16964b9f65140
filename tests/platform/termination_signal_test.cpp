// SIGTERM and SIGINT close the window through a pipe that the handler
// writes and the message loop reads: the pipe must never block the handler
// and must not leak into programs started later.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDeadlineTimer>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/winuser.h"

extern char** environ;

namespace {

class Counter final : public CWindowImpl {
 public:
  bool ProcessWindowMessage(HWND, UINT message, WPARAM, LPARAM, LRESULT& result, DWORD) override {
    if (message != WM_CLOSE) return false;
    ++closes;  // handled: the window stays
    result = 0;
    return true;
  }
  int closes = 0;
};

// The process's descriptors that are pipes.
std::set<int> Pipes() {
  std::set<int> pipes;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.rfind("pipe:", 0) == 0) pipes.insert(std::stoi(entry.path().filename().string()));
  }
  return pipes;
}

// Whether a program started now has descriptor `fd` open.
bool ChildHas(int fd) {
  const std::string script = "test -e /proc/self/fd/" + std::to_string(fd);  // `test` is the shell's own
  std::vector<char*> argv = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(script.c_str()),
                             nullptr};
  pid_t child = 0;
  if (::posix_spawn(&child, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ProcessEventsFor(int milliseconds) {
  QDeadlineTimer deadline(milliseconds);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

class TerminationSignals : public ::testing::Test {
 protected:
  void SetUp() override {
    int argc = 1;
    static char name[] = "termination_signal_test";
    static char* argv[] = {name, nullptr};
    InitApplication(argc, argv);
    ASSERT_NE(m_window.Create(u"signals", 64, 64), nullptr);
    const std::set<int> before = Pipes();
    CloseOnTerminationSignals(m_window.m_hWnd);
    for (int fd : Pipes())
      if (!before.count(fd)) m_pipe.push_back(fd);
  }
  void TearDown() override { ::signal(SIGTERM, SIG_DFL), ::signal(SIGINT, SIG_DFL); }

  Counter m_window;
  std::vector<int> m_pipe;  // both ends
};

TEST_F(TerminationSignals, ThePipeIsNonBlockingAndCloseOnExec) {
  ASSERT_EQ(m_pipe.size(), 2u);
  for (int fd : m_pipe) {
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "descriptor " << fd;
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "descriptor " << fd;
    EXPECT_FALSE(ChildHas(fd)) << "descriptor " << fd << " reached a child program";
  }
  // The check itself sees an inherited descriptor.
  const int inherited = ::dup(m_pipe[0]);
  ASSERT_GE(inherited, 0);
  EXPECT_TRUE(ChildHas(inherited));
  ::close(inherited);
}

TEST_F(TerminationSignals, ManySignalsNeverBlockAndCloseOnce) {
  // More signals than the pipe holds: a blocking pipe would stop the
  // handler, and with it this thread, at the first full write.
  for (int i = 0; i < 100000; ++i) std::raise(i % 2 == 0 ? SIGTERM : SIGINT);
  QDeadlineTimer deadline(5000);
  while (m_window.closes == 0 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  ProcessEventsFor(200);
  EXPECT_EQ(m_window.closes, 1);

  // Drained: the next signal closes again.
  std::raise(SIGTERM);
  deadline = QDeadlineTimer(5000);
  while (m_window.closes == 1 && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(m_window.closes, 2);
}

}  // namespace
