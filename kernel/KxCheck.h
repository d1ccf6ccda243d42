// The integrity check of a kernel file, saved or live: every structure of
// every member and the allocator walked (KxVerifier's full check), every
// problem reported with where it lies. `varnox check` and the kernel's
// crash tests use it.
#pragma once

#include <string>
#include <vector>

#include "contracts/kernel/KxCatalogue.h"
#include "kernel/KxLiveFile.h"
#include "kernel/KxStore.h"
#include "kernel/KxVerifier.h"

// What a check found.
struct KxFileCheck {
  std::string csFileType;           // the file type checked ("" when unknown)
  std::vector<KxProblem> problems;  // none: the file is whole
};

// The path a file is opened by (and its live data named after): absolute,
// its directory resolved; the file need not exist.
std::string KxCheckedPath(const std::string& csPath);

// Checks the saved file at `csPath` of `catalogue`'s family: its header,
// length and checksum, then each member's structure as it lies in the file,
// in scratch storage of this process (nothing is attached or changed).
KxFileCheck KxCheckSavedFile(const std::string& csPath, const KxCatalogue& catalogue,
                             const KxRecordTypes& types);

// Checks every member of a live file, each while holding its segment's
// mutex: taking it first makes whole what a process that died holding it
// left (KxStore::Recover), as it does for every process attached.
KxFileCheck KxCheckLiveFile(KxLiveFile& file);

// The file type of `catalogue` whose layout fingerprint is `uiSchema`; null
// for none.
const KxFileType* KxFileTypeOfSchema(const KxCatalogue& catalogue, uint64_t uiSchema);
