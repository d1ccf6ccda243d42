// What the benchmarks on the reference kernel share: the scratch
// directories (saved files below TMPDIR, live storage on /dev/shm, where the
// kernel keeps it by default) and the kernel, loaded and started once per
// program whatever other benchmarks did to the loader.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

namespace varnox_bench {

struct BenchScratch {
  BenchScratch() {
    const char* csTmp = std::getenv("TMPDIR");
    std::string csFilesTemplate =
        std::string(csTmp != nullptr && csTmp[0] != '\0' ? csTmp : "/tmp") +
        "/varnox-kernel-bench-XXXXXX";
    std::string csLiveTemplate = "/dev/shm/varnox-kernel-bench-XXXXXX";
    if (mkdtemp(csFilesTemplate.data()) == nullptr || mkdtemp(csLiveTemplate.data()) == nullptr) {
      std::perror("varnox bench: cannot make the scratch directories");
      std::exit(1);
    }
    csFiles = csFilesTemplate;
    csLive = csLiveTemplate;
    // The live directory is read at every open; the log's place only once,
    // so another benchmark of this program may have chosen it already.
    setenv("VARNOX_LIVE_DIR", csLive.c_str(), 1);
    setenv("VARNOX_KERNEL_LOG", (csFiles + "/kernel.log").c_str(), 0);
    setenv("KxOrb64", VARNOX_ORB_ROOT, 0);
  }
  ~BenchScratch() {
    std::error_code ec;
    std::filesystem::remove_all(csFiles, ec);
    std::filesystem::remove_all(csLive, ec);
  }
  BenchScratch(const BenchScratch&) = delete;
  BenchScratch& operator=(const BenchScratch&) = delete;

  std::string csFiles;  // saved files
  std::string csLive;   // live storage
};

// The program's one scratch pair, made on first use.
inline BenchScratch& Scratch() {
  static BenchScratch scratch;
  return scratch;
}

// Points the native face at the reference kernel KxOrb64 names (the one
// built here unless the environment says otherwise, so that a run can time
// another build's kernel), whatever other benchmarks of this program did to
// the loader (the container benchmarks refuse every interface on purpose),
// and starts it once.
inline void UseKernel() {
  static const PfCreateKxComponent pfEntry = [] {
    Scratch();
    const std::string csLibrary = std::string(std::getenv("KxOrb64")) + "Kernel/Lib/CkxCompManagerR.dll";
    void* hLibrary = dlopen(csLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* pEntry = hLibrary != nullptr ? dlsym(hLibrary, KxNames::kEntryPoint) : nullptr;
    if (pEntry == nullptr) {
      std::fprintf(stderr, "varnox bench: cannot load %s\n", csLibrary.c_str());
      std::exit(1);
    }
    return reinterpret_cast<PfCreateKxComponent>(pEntry);
  }();
  pfCreateKxComp = pfEntry;
  static const uint32_t uiSlot = [] {
    if (pTasks == nullptr) KxInitCatAssembly(false);
    return dwIObjTlsInd;
  }();
  dwIObjTlsInd = uiSlot;
  KxBeginCurrentObjects(uiSlot != 0xFFFFFFFF);
}

}  // namespace varnox_bench
