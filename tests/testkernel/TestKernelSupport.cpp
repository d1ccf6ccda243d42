#include "tests/testkernel/TestKernelSupport.h"

#include "tests/support/ForkedChild.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#ifndef TK_ORB_ROOT
#error "TK_ORB_ROOT must name the directory the test kernel is built into"
#endif

const std::string& TkOrbRoot() {
  static const std::string csRoot = TK_ORB_ROOT;
  return csRoot;
}

const std::string& ReferenceOrbRoot() {
  static const std::string csRoot = VARNOX_ORB_ROOT;
  return csRoot;
}

std::string TkKernelPath(const std::string& csRoot, bool bDebug) {
  return csRoot + "Kernel/Lib/" + (bDebug ? "CkxCompManagerD.dll" : "CkxCompManagerR.dll");
}

// dlopen keeps one handle per file and never unloads it here.
TestKernel& TkLoad() {
  setenv("KxOrb64", TkOrbRoot().c_str(), 1);
  const std::string csPath = TkKernelPath(TkOrbRoot());
  void* h = dlopen(csPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  void* p = h == nullptr ? nullptr : dlsym(h, "TestKernel_Instance");
  if (p == nullptr)
    throw std::runtime_error("cannot load the test kernel " + csPath + ": " + dlerror());
  return *reinterpret_cast<PfTestKernelInstance>(p)();
}

// What a child wrote into `pSink`, which is then closed.
static std::string ReadBack(FILE* pSink) {
  std::string csText;
  std::rewind(pSink);
  char acBuffer[4096];
  for (size_t n; (n = std::fread(acBuffer, 1, sizeof acBuffer, pSink)) > 0;)
    csText.append(acBuffer, n);
  std::fclose(pSink);
  return csText;
}

TkChildResult TkRunChild(const std::function<void()>& fn, int iTimeoutMs) {
  // Unlinked temporary files: nothing to drain while the child runs, however
  // much it writes.
  FILE* pOut = std::tmpfile();
  FILE* pErr = std::tmpfile();
  if (pOut == nullptr || pErr == nullptr)
    throw std::system_error(errno, std::generic_category(), "tmpfile");
  ForkedChild child([&] {
    dup2(fileno(pOut), STDOUT_FILENO);
    dup2(fileno(pErr), STDERR_FILENO);
    fn();
    return 0;
  });
  const int iCode = child.Wait(iTimeoutMs);
  TkChildResult result;
  result.exited = iCode >= 0 && iCode < 128;
  result.exitCode = result.exited ? iCode : -1;
  result.signal = result.exited ? 0 : iCode - 128;
  result.out = ReadBack(pOut);
  result.err = ReadBack(pErr);
  return result;
}

TkChildResult TkRunProgram(const std::vector<std::string>& argv, int iTimeoutMs) {
  // Built before the fork: the child only executes.
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  return TkRunChild(
      [&] {
        execvp(args[0], args.data());
        std::fprintf(stderr, "cannot run %s: %s\n", args[0], std::strerror(errno));
        std::fflush(stderr);
        _exit(127);
      },
      iTimeoutMs);
}
