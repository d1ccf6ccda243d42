#include "kernel/KxKernelLog.h"

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

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

void KxKernelLog(const std::string& csKind, const std::string& csText) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm utc{};
  gmtime_r(&now.tv_sec, &utc);
  char aStamp[40];
  std::strftime(aStamp, sizeof aStamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::string csLine = std::string(aStamp) + "." +
                       std::to_string(now.tv_nsec / 1000000 + 1000).substr(1) + "Z pid " +
                       std::to_string(getpid()) + " tid " + std::to_string(syscall(SYS_gettid)) +
                       " " + csKind + " ";
  for (char c : csText) {
    if (c == '\r') continue;
    if (c == '\n') {
      csLine += " | ";
    } else {
      csLine += c;
    }
  }
  csLine += '\n';
  const int iFd = open(KxKernelLogPath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (iFd < 0) return;
  [[maybe_unused]] ssize_t iWritten = write(iFd, csLine.data(), csLine.size());
  close(iFd);
}
