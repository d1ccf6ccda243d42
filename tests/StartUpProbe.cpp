// A fresh process for the start-up paths that end the process: starts the
// native face and reports which component manager it loaded.
//   varnox_startup_probe [debug]
#include <dlfcn.h>

#include <cstdio>
#include <cstring>

#include "NetInterface/CkxOrbNetInterface/CkxNetDtb2.h"

int main(int argc, char** argv) {
  const bool bDebug = argc > 1 && std::strcmp(argv[1], "debug") == 0;
  KxInitCatAssembly(bDebug);
  Dl_info info{};
  dladdr(reinterpret_cast<void*>(pfCreateKxComp), &info);
  std::printf("loaded %s\n", info.dli_fname != nullptr ? info.dli_fname : "?");
  KxEndCatAssembly();
  return 0;
}
