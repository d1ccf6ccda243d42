#include "kernel/KxKernelLog.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "contracts/kernel/KxRecords.h"

const std::string& KxKernelLogPath() {
  static const std::string csPath = [] {
    if (const char* csLog = std::getenv("VARNOX_KERNEL_LOG");
        csLog != nullptr && csLog[0] != '\0') {
      return std::string(csLog);
    }
    const char* csTmp = std::getenv("TMPDIR");
    return std::string(csTmp != nullptr && csTmp[0] != '\0' ? csTmp : "/tmp") + "/varnox-kernel-" +
           std::to_string(getuid()) + ".log";
  }();
  return csPath;
}

bool KxKernelLogWants(uint16_t usEventType) {
  static const bool s_bDiagnostics = [] {
    const char* csWanted = std::getenv("VARNOX_KERNEL_LOG_DIAGNOSTICS");
    return csWanted != nullptr && csWanted[0] != '\0' && std::string(csWanted) != "0";
  }();
  return usEventType != OrbLogEvtArrayDiag || s_bDiagnostics;
}

namespace {

// The process and thread ids of a line, each asked of the system once (a
// system call each, as costly as the line's write): a forked child asks
// again, since the fork handler clears both in it.
std::atomic<pid_t> g_Pid{0};
thread_local pid_t t_Tid = 0;

void ForgetIds() {
  g_Pid = 0;
  t_Tid = 0;
}

pid_t Pid() {
  static const bool s_bHandler = [] { return pthread_atfork(nullptr, nullptr, ForgetIds) == 0; }();
  pid_t pid = g_Pid.load(std::memory_order_relaxed);
  if (pid == 0 || !s_bHandler) g_Pid = pid = getpid();
  return pid;
}

pid_t Tid() {
  if (t_Tid == 0) t_Tid = static_cast<pid_t>(syscall(SYS_gettid));
  return t_Tid;
}

}  // namespace

void KxKernelLog(const std::string& csKind, const std::string& csText) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  // The date and time to the second, made again only when the second changes.
  thread_local time_t t_Second = -1;
  thread_local char t_aStamp[40] = {};
  if (now.tv_sec != t_Second) {
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    std::strftime(t_aStamp, sizeof t_aStamp, "%Y-%m-%dT%H:%M:%S", &utc);
    t_Second = now.tv_sec;
  }
  char aPrefix[96];
  const int iPrefix = std::snprintf(aPrefix, sizeof aPrefix, "%s.%03ldZ pid %ld tid %ld ", t_aStamp,
                                    now.tv_nsec / 1000000, static_cast<long>(Pid()),
                                    static_cast<long>(Tid()));
  std::string csLine;
  csLine.reserve(sizeof aPrefix + csKind.size() + csText.size() + 2);
  csLine.append(aPrefix, static_cast<size_t>(std::max(iPrefix, 0)));
  csLine += csKind;
  csLine += ' ';
  for (char c : csText) {
    if (c == '\r') continue;
    if (c == '\n') {
      csLine += " | ";
    } else {
      csLine += c;
    }
  }
  csLine += '\n';
  // Opened once per process and kept: an open and a close per line would
  // cost more than the line. O_APPEND puts every write at the file's end
  // whichever process writes, and one write per line keeps lines whole.
  static const int s_iFd =
      open(KxKernelLogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (s_iFd < 0) return;
  [[maybe_unused]] ssize_t iWritten = write(s_iFd, csLine.data(), csLine.size());
}
