#include "NetInterface/OrbCategBaseClass/CkxNetCatDtb2.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxD2MessMan.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtb2.h"
#include "NetInterface/CkxOrbNetInterface/CkxDtbAccByStr.h"
#include "NetInterface/CkxOrbNetInterface/CkxTask.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "templates/VarnoxSchema.h"

namespace {

int LazyCreateKxComponent(const char* csComponent, const char* csInterface, const int iKind,
                          void** ppInterface, uint32_t& uiVersion, void* pExtra);

}  // namespace

PfCreateKxComponent pfCreateKxComp = LazyCreateKxComponent;
int32_t iKxCompMan = KxCompManNotTried;
void* hCompMan = nullptr;
bool bDebugVersion = false;
int32_t catRefCnt = 0;
CkxTask* pTasks = nullptr;
CkxDtb2* pDtb2 = nullptr;
CkxD2MessMan* pMessMan = nullptr;
CkxDtbAccByStr* pDtbAac = nullptr;
CkxTaskOnly* pTasksWin = nullptr;
CkxTaskOnly* pTasksWinNet = nullptr;
uint32_t dwIObjTlsInd = 0xFFFFFFFF;
const char* const Dtb2EmptyDynString = "";
const char16_t* const Dtb2EmptyDynStringU = u"";

namespace {

// Writes the caption and the text of a fatal start-up failure, records its
// kind and ends the process: without its component manager the library can
// do nothing.
[[noreturn]] void FailStartUp(KxCompManState state, const char* csCaption,
                              const std::string& csText) {
  std::fprintf(stderr, "%s\n%s\n", csCaption, csText.c_str());
  std::fflush(stderr);
  iKxCompMan = state;
  std::exit(1);
}

// The path the component manager was loaded from, for the messages.
std::string& ComponentManagerPath() {
  static std::string csPath;
  return csPath;
}

// The system error of a failed dlopen: dlopen does not promise errno, so a
// missing or unreadable file is asked about directly.
int LoadErrorCode(const std::string& csPath) {
  int iError = errno;
  if (access(csPath.c_str(), R_OK) != 0) return errno;
  return iError != 0 ? iError : ENOEXEC;
}

// Loads the component manager once; only returns when it is loaded.
void LoadComponentManager() {
  if (iKxCompMan != KxCompManNotTried) return;

  const char* csRoot = std::getenv("KxOrb64");
  if (csRoot == nullptr || std::strlen(csRoot) < 2) {
    FailStartUp(KxCompManNoLocation, "Environment Variable KxOrb64 Not Defined !!",
                "The environment variable KxOrb64 MUST define the\n"
                "directory where all Tarvex components are stored:\n"
                "For example:  E:\\ORB\\");
  }

  // The value is used as it stands: it is expected to end with '/'.
  std::string csPath = std::string(csRoot) + "Kernel/" + "Lib/" +
                       (bDebugVersion ? "CkxCompManagerD.dll" : "CkxCompManagerR.dll");
  void* hLib = nullptr;
  int iError = ENAMETOOLONG;
  if (csPath.size() < kKxPathBufferSize) {
    errno = 0;
    hLib = dlopen(csPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (hLib == nullptr) iError = LoadErrorCode(csPath);
  }
  if (hLib == nullptr) {
    FailStartUp(KxCompManNotLoadable, "Tarvex Components Manager NOT FOUND !!",
                "The file:  " + csPath +
                    "  was not found\nSystem Error code is:  " + std::to_string(iError));
  }
  hCompMan = hLib;
  ComponentManagerPath() = csPath;

  void* pEntry = dlsym(hLib, KxNames::kEntryPoint);
  if (pEntry == nullptr) {
    FailStartUp(
        KxCompManNoEntryPoint, "DLL Entry Point NOT FOUND !!",
        "The Entry Point:  CreateKxComponent  was not found\nin the Component Manager:  " + csPath);
  }
  pfCreateKxComp = reinterpret_cast<PfCreateKxComponent>(pEntry);
  iKxCompMan = KxCompManLoaded;
}

// The initial value of pfCreateKxComp: loads the component manager, then
// forwards the call to the real entry point.
int LazyCreateKxComponent(const char* csComponent, const char* csInterface, const int iKind,
                          void** ppInterface, uint32_t& uiVersion, void* pExtra) {
  LoadComponentManager();
  if (iKxCompMan != KxCompManLoaded) {
    *ppInterface = nullptr;
    uiVersion = 0;
    return 1;
  }
  return pfCreateKxComp(csComponent, csInterface, iKind, ppInterface, uiVersion, pExtra);
}

std::string Hex(uint64_t uiValue) {
  char aText[24];
  std::snprintf(aText, sizeof aText, "0x%016" PRIX64, uiValue);
  return aText;
}

// Hands the kernel the fingerprint of the library's schema. A kernel built
// from another schema lays records out otherwise: going on would misread
// every file, so the process ends.
void CheckSchema(CkxDtb2& connection) {
  uint64_t uiKernel = 0;
  if (connection.AcceptSchema(kVarnoxSchemaFingerprint, uiKernel)) return;
  FailStartUp(KxCompManOtherSchema, "Tarvex Kernel of Another Schema !!",
              "The Component Manager:  " + ComponentManagerPath() +
                  "\nwas built from another record schema than this library\n(kernel schema " +
                  Hex(uiKernel) + ", library schema " + Hex(kVarnoxSchemaFingerprint) +
                  "):\nthe two would misread each other's records.");
}

// Replaces a process-wide object, destroying the one an earlier start-up
// left behind (the end of application keeps pMessMan and pDtbAac).
template <class T>
void Renew(T*& pGlobal) {
  T* pOld = pGlobal;
  pGlobal = new (std::nothrow) T();
  delete pOld;
}

}  // namespace

int KxRequestInterface(const char* csComponent, const char* csInterface, int iKind, void** ppItf,
                       uint32_t& uiVersion, void* pExtra) {
  return pfCreateKxComp(csComponent, csInterface, iKind, ppItf, uiVersion, pExtra);
}

void KxInitCatAssembly(bool bDebug) {
  if (pTasks != nullptr) {
    ++catRefCnt;
    return;
  }
  bDebugVersion = bDebug;
  pTasks = new (std::nothrow) CkxTask(1);
  pDtb2 = new (std::nothrow) CkxDtb2();
  if (pDtb2 != nullptr) CheckSchema(*pDtb2);
  Renew(pMessMan);
  Renew(pDtbAac);
  dwIObjTlsInd = pDtb2 != nullptr ? pDtb2->GetObjTlsIndex() : 0xFFFFFFFF;
  KxBeginCurrentObjects(dwIObjTlsInd != 0xFFFFFFFF);
  ++catRefCnt;
}

void KxEndCatAssembly() {
  if (--catRefCnt > 0) return;
  if (pTasks != nullptr) {
    delete pTasks;
    pTasks = nullptr;
  }
  if (pDtb2 != nullptr) {
    delete pDtb2;
    pDtb2 = nullptr;
  }
}

void KxTraceNet(int32_t iCategory, const char* csFile, int32_t iLine, const char* csMessage,
                const char* cs1, const char* cs2, const char* cs3) {
  if (pTasks == nullptr) return;
  try {
    pTasks->m_Task.Call<&IkxTaskOps::Trace>(iCategory, csFile, iLine, csMessage, cs1, cs2, cs3);
  } catch (...) {
    // A trace line is never worth a failure of the operation that wrote it.
  }
}
