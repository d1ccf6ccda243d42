// The native start-up unit: the process-wide kernel objects, the lazy loader
// of the component manager, the start and end of the native face, and the
// trace function.
//
// Start-up (KxInitCatAssembly) creates, in this order, the task (pTasks), the
// kernel connection (pDtb2), which it hands the fingerprint of the library's
// schema, the message manager (pMessMan) and the access-by-string object
// (pDtbAac), then asks the connection for the thread-local slot of the
// current kernel object. The first request for a
// kernel interface loads the component manager from
//   $KxOrb64 + "Kernel/" + "Lib/" + "CkxCompManagerR.dll"   (or ...D.dll)
// A missing KxOrb64, a missing library, a library without the entry point or
// a kernel built from another schema ends the process with exit code 1
// after writing caption and text to standard error.
//
// Nothing here takes a lock: start-up and end run on the application's
// start-up and shut-down path.
//
// Private to the library: not installed. Applications start and end the
// native face through KxStartUp.h.
#pragma once

#include <cstdint>

#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "contracts/kernel/KxComponent.h"

class CkxTask;
class CkxTaskOnly;
class CkxDtb2;
class CkxD2MessMan;
class CkxDtbAccByStr;

// State of the component manager.
enum KxCompManState : int32_t {
  KxCompManNotTried = -1,
  KxCompManLoaded = 0,
  KxCompManNoLocation = 1,    // KxOrb64 missing or shorter than 2 characters
  KxCompManNotLoadable = 2,   // the library could not be loaded
  KxCompManNoEntryPoint = 3,  // the library has no CreateKxComponent
  KxCompManOtherSchema = 4,   // the kernel was built from another schema
};

// Length of the buffer the component manager's path is built in,
// terminator included. A longer path is a load failure.
constexpr size_t kKxPathBufferSize = 512;

// Every request for a kernel interface goes through this pointer; it starts
// at the lazy loader stub.
extern PfCreateKxComponent pfCreateKxComp;
extern int32_t iKxCompMan;
extern void* hCompMan;
extern bool bDebugVersion;
extern int32_t catRefCnt;
extern CkxTask* pTasks;
extern CkxDtb2* pDtb2;
extern CkxD2MessMan* pMessMan;
extern CkxDtbAccByStr* pDtbAac;
extern CkxTaskOnly* pTasksWin;     // never created by the library
extern CkxTaskOnly* pTasksWinNet;  // never created by the library
extern uint32_t dwIObjTlsInd;
extern const char* const Dtb2EmptyDynString;
extern const char16_t* const Dtb2EmptyDynStringU;

// KxInitCatAssembly (KxStartUp.h) adds one to catRefCnt; KxEndCatAssembly
// takes one and, when it reaches 0 or less, destroys pTasks and pDtb2.
// pMessMan and pDtbAac stay until the next start-up replaces them.

// Writes one trace line through the task's "CkxTask" interface (slot 16).
// Does nothing without the interface; never throws.
void KxTraceNet(int32_t iCategory, const char* csFile, int32_t iLine, const char* csMessage,
                const char* cs1 = "", const char* cs2 = "", const char* cs3 = "");

// Source name given with the trace lines of the containers.
constexpr const char* kKxTraceSource = "CkxNetDtb2";
