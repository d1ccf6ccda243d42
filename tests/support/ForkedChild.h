// A child process for tests: fork, run, wait with a deadline, reap.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>

// A forked child running `fn` beside the test, ending with its answer as exit
// code (98 after an exception, whose text goes to standard error); killed and
// reaped when the object goes. The child shares what was mapped shared before
// the fork. Fork from a test thread while no other thread holds a lock.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    m_Pid = fork();
    if (m_Pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (m_Pid != 0) return;
    int iCode = 98;
    try {
      iCode = fn();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "uncaught exception: %s\n", e.what());
    } catch (...) {
      std::fprintf(stderr, "uncaught exception\n");
    }
    std::fflush(nullptr);
    _exit(iCode);
  }
  ~ForkedChild() { Kill(); }
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  pid_t Pid() const { return m_Pid; }
  bool Running() {
    if (m_Pid <= 0 || m_bEnded) return false;
    m_bEnded = waitpid(m_Pid, &m_iStatus, WNOHANG) == m_Pid;
    return !m_bEnded;
  }
  // Its exit code, or 128 + the signal that ended it; killed after
  // `iWaitMs` (a child that hangs fails the test rather than stopping it).
  int Wait(int iWaitMs = 30000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(iWaitMs);
    while (Running()) {
      if (std::chrono::steady_clock::now() > deadline) kill(m_Pid, SIGKILL);
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (m_Pid <= 0) return -1;
    return WIFEXITED(m_iStatus) ? WEXITSTATUS(m_iStatus) : 128 + WTERMSIG(m_iStatus);
  }
  // Kills it (SIGKILL) and answers as Wait.
  int Kill() {
    if (Running()) kill(m_Pid, SIGKILL);
    return Wait();
  }

 private:
  pid_t m_Pid = -1;
  bool m_bEnded = false;
  int m_iStatus = 0;
};
