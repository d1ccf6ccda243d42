// The reference kernel built here for the benchmarks that use the object
// face: loaded directly (other benchmarks of the program replace the
// loader's entry point) and started once, with a scratch directory for the
// files and their live storage.
#pragma once

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

// Puts the kernel in place for the calling benchmark and answers the scratch
// directory (made on the first call).
inline const std::string& UseKernel() {
  static const std::string csDir = [] {
    std::string csTemplate = "/tmp/varnox-objectface-bench-XXXXXX";
    if (mkdtemp(csTemplate.data()) == nullptr) std::exit(1);
    std::filesystem::create_directories(csTemplate + "/live");
    setenv("VARNOX_LIVE_DIR", (csTemplate + "/live").c_str(), 1);
    setenv("VARNOX_KERNEL_LOG", (csTemplate + "/kernel.log").c_str(), 0);
    setenv("KxOrb64", VARNOX_ORB_ROOT, 0);
    return csTemplate;
  }();
  static const PfCreateKxComponent pfEntry = [] {
    const std::string csLibrary = std::string(VARNOX_ORB_ROOT) + "Kernel/Lib/CkxCompManagerR.dll";
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
  return csDir;
}
