// The file interface ("CkxDtb2File") of the reference kernel: naming and
// registering a file's members, open, save, unload, clear and update,
// index objects, the file-wide locks and XML of the whole file.
#include <cstring>
#include <memory>
#include <string>

#include "kernel/KxComponents.h"
#include "kernel/KxKernelLog.h"
#include "kernel/KxXml.h"

namespace KxComponents {
namespace {

// Where a detached member points: no storage, every handle invalid.
uint8_t* const g_pNoStorage = nullptr;
const uint32_t g_uiNoHandle = 0;

// The catalogue's file type `csName` of family `csFamily`, or null.
const KxFileType* FindFileType(const std::string& csFamily, const std::string& csName) {
  const KxCatalogue& catalogue = Kernel().catalogue;
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (csFamily == catalogue.files[i].family && csName == catalogue.files[i].name)
      return &catalogue.files[i];
  }
  return nullptr;
}

// Points every member at no storage (before the live file goes away).
void DetachMembers(KxFileState* pFile, KxDeferred& deferred) {
  for (auto& [pObj, uiClassId] : pFile->members) {
    if (pObj == nullptr) continue;
    pObj->pOpenStore.store(nullptr, std::memory_order_release);
    pObj->pOpenContainer.store(nullptr, std::memory_order_release);
    if (pObj->pObject == nullptr) continue;
    KxAttachInfo info{uiClassId, nullptr, &g_pNoStorage, &g_uiNoHandle};
    CkxDtb2ObjCallback* pTarget = pObj->pObject;
    deferred.push_back([pTarget, info] { pTarget->OnAttach(&info); });
  }
}

bool FileUnLoad(IkxDtb2File* self);

void FileRelease(IkxDtb2File* self) {
  FileUnLoad(self);
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    for (auto& [pObj, uiClassId] : pFile->members) {
      if (pObj != nullptr) pObj->pFile = nullptr;
    }
    delete pFile;
    return 0;
  });
}

void FileSetTemplateName(IkxDtb2File* self, const char* csName) {
  Locked([&] { return StateOf<KxFileState>(self)->csFamily = Text(csName), 0; });
}

void FileSetFileTemplateName(IkxDtb2File* self, const char* csName) {
  Locked([&] { return StateOf<KxFileState>(self)->csFileType = Text(csName), 0; });
}

// Index (dimension) objects: GetObjInd records in the dimension object the
// file it describes and the element count of each member (or of the member
// named); SetObjInd checks that the dimension object describes this file.
// Nothing else reads them.
void RecordIndexes(IkxDtb2File* self, uint64_t uiDimId, const std::string& csMember) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiDimId);
    if (it == Kernel().objects.end() || !pFile->pLive) return 0;
    KxObjState& dim = *it->second;
    dim.csIndexes = pFile->pLive->Path();
    const KxFileType& type = pFile->pLive->FileType();
    for (size_t i = 0; i < type.memberCount; ++i) {
      if (!csMember.empty() && csMember != type.members[i].name) continue;
      KxLiveFile& live = *pFile->pLive;
      KxSegmentLock lock(live.Segment(i));
      const void* pContainer = live.Container(i);
      uint32_t uiCount = 1;
      if (type.members[i].memberClass->kind == KxMemberKind::kMap) {
        uiCount = static_cast<const KxContainerHeader*>(pContainer)->count;
      } else if (type.members[i].memberClass->kind == KxMemberKind::kArray) {
        uiCount = static_cast<const KxArrayHeader*>(pContainer)->size;
      }
      dim.csIndexes += std::string(" ") + type.members[i].name + "=" + std::to_string(uiCount);
    }
    return 0;
  });
}

void FileGetObjInd(IkxDtb2File* self, uint64_t uiDimId) { RecordIndexes(self, uiDimId, ""); }

void FileGetObjIndByName(IkxDtb2File* self, uint64_t uiDimId, const char* csName) {
  RecordIndexes(self, uiDimId, Text(csName));
}

void FileSetObjInd(IkxDtb2File* self, uint64_t uiDimId) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiDimId);
    if (it == Kernel().objects.end() || !pFile->pLive) return 0;
    const std::string& csIndexes = it->second->csIndexes;
    if (csIndexes.compare(0, pFile->pLive->Path().size(), pFile->pLive->Path()) != 0) {
      KxKernelLog("KERNEL", "SetObjInd: the index object describes " +
                                (csIndexes.empty() ? std::string("no file") : csIndexes) +
                                ", not " + pFile->pLive->Path());
    }
    return 0;
  });
}

void FileRegisterMember(IkxDtb2File* self, uint64_t uiObjectId, uint32_t uiClassId) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    auto it = Kernel().objects.find(uiObjectId);
    KxObjState* pObj = it != Kernel().objects.end() ? it->second : nullptr;
    if (pObj != nullptr) {
      pObj->pFile = pFile;
      pObj->uiMember = pFile->members.size();
    }
    pFile->members.emplace_back(pObj, uiClassId);
    return 0;
  });
}

int32_t FileOpen(IkxDtb2File* self, const char* csPath, const char* /*csAlias1*/,
                 const char* /*csAlias2*/, const char* csMode, const char* csFileSet, bool bCreate,
                 uint64_t /*uiDimHandle*/, uint32_t /*uiDimDyn*/, uint32_t /*uiDimExp*/) {
  FileUnLoad(self);
  KxDeferred deferred;
  const int32_t iResult = Locked([&]() -> int32_t {
    KxFileState* pFile = StateOf<KxFileState>(self);
    const std::string csFull = ResolvePath(Text(csPath), Text(csFileSet));
    auto refuse = [&](int32_t iFailure, const std::string& csWhy) {
      KxKernelLog("KERNEL",
                  "open " + csFull + " refused (" + std::to_string(iFailure) + "): " + csWhy);
      return iFailure;
    };
    const KxFileType* pType = FindFileType(pFile->csFamily, pFile->csFileType);
    if (pType == nullptr)
      return refuse(KxOpenBadTemplate,
                    "unknown file type " + pFile->csFamily + "/" + pFile->csFileType);
    if (pFile->members.size() != pType->memberCount) {
      return refuse(KxOpenBadTemplate, std::to_string(pFile->members.size()) +
                                           " members registered, " + pType->name + " has " +
                                           std::to_string(pType->memberCount));
    }
    for (size_t i = 0; i < pType->memberCount; ++i) {
      if (pFile->members[i].second != pType->members[i].memberClass->classId) {
        return refuse(KxOpenBadTemplate, std::string("member ") + pType->members[i].name +
                                             " registered with class id " +
                                             std::to_string(pFile->members[i].second));
      }
    }
    if (Text(csPath).empty()) return refuse(KxOpenNotFound, "no path given");
    int32_t iFailure = 0;
    std::string csWhy;
    pFile->pLive = KxLiveFile::Open(csFull, *pType, Kernel().types, bCreate, iFailure, csWhy);
    if (!pFile->pLive) return refuse(iFailure, csWhy);
    pFile->iFileId = Kernel().nextFileId++;
    pFile->bReadOnly = csMode != nullptr && csMode[0] == 'r' && std::strchr(csMode, 'w') == nullptr;
    StartListening(*pFile->pLive);
    for (size_t i = 0; i < pFile->members.size(); ++i) {
      KxObjState* pObj = pFile->members[i].first;
      if (pObj == nullptr) continue;
      pObj->pOpenStore.store(&pFile->pLive->Store(i), std::memory_order_release);
      pObj->pOpenContainer.store(pFile->pLive->Container(i), std::memory_order_release);
      if (pObj->pObject == nullptr) continue;
      KxSegment& segment = pFile->pLive->Segment(i);
      KxAttachInfo info{pFile->members[i].second, pFile->pLive->Container(i), segment.BaseWord(),
                        &segment.Header().top};
      CkxDtb2ObjCallback* pTarget = pObj->pObject;
      deferred.push_back([pTarget, info] { pTarget->OnAttach(&info); });
    }
    return pFile->iFileId;
  });
  RunDeferred(deferred);
  return iResult;
}

bool FileIsOpen(IkxDtb2File* self) {
  return Locked([&] { return static_cast<bool>(StateOf<KxFileState>(self)->pLive); });
}

void FileClear(IkxDtb2File* self, uint32_t uiFlags) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return 0;
    pFile->pLive->Clear();
    PublishFileUpdate(*pFile->pLive, uiFlags);
    return 0;
  });
}

bool FileSelectFileDlg(IkxDtb2File*, const char*, const char*, const char*, KxStringOut*,
                       const char*, KxStringOut*, bool, bool) {
  KxKernelLog("KERNEL", "SelectFileDlg: this kernel has no user interface");
  return false;
}

bool FileSave(IkxDtb2File* self, int32_t iSaveOld, int16_t sDefPath, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    if (pFile->bReadOnly) {
      KxKernelLog("KERNEL", "save " + pFile->pLive->Path() + " refused: opened read-only");
      return false;
    }
    const std::string csTarget =
        sDefPath != 0 || Text(csPath).empty() ? std::string() : ResolvePath(csPath, "");
    std::string csWhy;
    if (!pFile->pLive->Save(csTarget, iSaveOld != 0, csWhy)) {
      KxKernelLog("KERNEL", "save " + (csTarget.empty() ? pFile->pLive->Path() : csTarget) +
                                " failed: " + csWhy);
      return false;
    }
    return true;
  });
}

bool FileGetFullPath(IkxDtb2File* self, KxStringOut* pPath) {
  std::string csPath;
  const bool bOpen = Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (pFile->pLive) csPath = pFile->pLive->Path();
    return static_cast<bool>(pFile->pLive);
  });
  if (bOpen) Assign(pPath, csPath);
  return bOpen;
}

bool FileUnLoad(IkxDtb2File* self) {
  KxDeferred deferred;
  std::shared_ptr<KxLiveFile> pLive;
  const bool bOpen = Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    DetachMembers(pFile, deferred);
    pLive = std::move(pFile->pLive);
    pFile->pLive.reset();
    return true;
  });
  RunDeferred(deferred);
  return bOpen;  // the live file goes with `pLive`, after the members let go of it
}

void FileUpdate(IkxDtb2File* self, uint32_t uiFlags) {
  Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (pFile->pLive) PublishFileUpdate(*pFile->pLive, uiFlags);
    return 0;
  });
}

int32_t FileGetDynGrowStatus(IkxDtb2File* self) {
  return Locked([&] { return StateOf<KxFileState>(self)->iGrowStatus; });
}

int32_t FileGetFileIdOfMessage(IkxDtb2File* self, int32_t, int64_t) {
  return Locked([&] { return StateOf<KxFileState>(self)->iFileId; });
}

// The file-wide locks block outside the kernel's lock, on a reference to
// the live file that keeps it open meanwhile.
std::shared_ptr<KxLiveFile> LiveOf(IkxDtb2File* self) {
  return Locked([&] { return StateOf<KxFileState>(self)->pLive; });
}

void FileWideLock(IkxDtb2File* self, KxLiveFile::FileLock eLock, bool bTake) {
  if (std::shared_ptr<KxLiveFile> pLive = LiveOf(self)) {
    if (bTake) {
      pLive->LockFileWide(eLock);
    } else {
      pLive->UnlockFileWide(eLock);
    }
  }
}

void FileGetNGELock(IkxDtb2File* self) { FileWideLock(self, KxLiveFile::FileLock::kNGE, true); }
void FileReleaseNGELock(IkxDtb2File* self) { FileWideLock(self, KxLiveFile::FileLock::kNGE, false); }
void FileGetNGMLock(IkxDtb2File* self) { FileWideLock(self, KxLiveFile::FileLock::kNGM, true); }
void FileReleaseNGMLock(IkxDtb2File* self) { FileWideLock(self, KxLiveFile::FileLock::kNGM, false); }

bool FileSaveFileAsXml(IkxDtb2File* self, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    std::string csWhy;
    if (KxExportXml(*pFile->pLive, kKxWholeFile, ResolvePath(Text(csPath), ""), csWhy)) return true;
    KxKernelLog("KERNEL", "SaveFileAsXml " + Text(csPath) + " failed: " + csWhy);
    return false;
  });
}

bool FileUpdateFileFromXml(IkxDtb2File* self, const char* csPath) {
  return Locked([&] {
    KxFileState* pFile = StateOf<KxFileState>(self);
    if (!pFile->pLive) return false;
    std::string csWhy = "the file is open read-only";
    if (!pFile->bReadOnly && KxImportXml(*pFile->pLive, ResolvePath(Text(csPath), ""), csWhy)) {
      PublishFileUpdate(*pFile->pLive, 0);  // every member changed, in every process
      return true;
    }
    KxKernelLog("KERNEL", "UpdateFileFromXml " + Text(csPath) + " refused: " + csWhy);
    return false;
  });
}

const IkxDtb2FileOps kFileOps = [] {
  IkxDtb2FileOps ops{};
  ops.Release = KX_GUARD(FileRelease);
  ops.SetTemplateName = KX_GUARD(FileSetTemplateName);
  ops.SetFileTemplateName = KX_GUARD(FileSetFileTemplateName);
  ops.GetObjInd = KX_GUARD(FileGetObjInd);
  ops.SetObjInd = KX_GUARD(FileSetObjInd);
  ops.Open = KX_GUARD(FileOpen, KxOpenIoError);
  ops.RegisterMember = KX_GUARD(FileRegisterMember);
  ops.IsOpen = KX_GUARD(FileIsOpen);
  ops.Clear = KX_GUARD(FileClear);
  ops.SelectFileDlg = KX_GUARD(FileSelectFileDlg);
  ops.Save = KX_GUARD(FileSave);
  ops.GetFullPath = KX_GUARD(FileGetFullPath);
  ops.UnLoad = KX_GUARD(FileUnLoad);
  ops.Update = KX_GUARD(FileUpdate);
  ops.GetDynGrowStatus = KX_GUARD(FileGetDynGrowStatus);
  ops.GetFileIdOfMessage = KX_GUARD(FileGetFileIdOfMessage);
  ops.GetNGELock = KX_GUARD(FileGetNGELock);
  ops.ReleaseNGELock = KX_GUARD(FileReleaseNGELock);
  ops.GetNGMLock = KX_GUARD(FileGetNGMLock);
  ops.ReleaseNGMLock = KX_GUARD(FileReleaseNGMLock);
  ops.GetObjIndByName = KX_GUARD(FileGetObjIndByName);
  ops.SaveFileAsXml = KX_GUARD(FileSaveFileAsXml);
  ops.UpdateFileFromXml = KX_GUARD(FileUpdateFileFromXml);
  return ops;
}();

}  // namespace

IkxDtb2File* NewFileInterface() {
  KxFileState* pFile = new KxFileState();
  pFile->ops = &kFileOps;
  return pFile;
}

}  // namespace KxComponents
