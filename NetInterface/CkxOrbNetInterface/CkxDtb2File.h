// The kernel file base: the native base of every file template.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/KxItf.h"

template <class C>
class CkxMessageInfoT;

// Holds the kernel file interface and forwards the file operations to it.
//
// Every operation is one slot of the file interface (IkxDtb2FileOps, where
// the slot's minimum version and its failures are declared). Below the
// granted version's reach an operation falls back without calling the
// kernel: false, -1, or nothing done. No operation throws; the kernel's
// results pass through unchanged.
//
// The file also listens to "OrbKernelDynDataSecGrow": when the kernel
// reports that this file's dynamic data grew, the new status is stored and
// logged.
class CkxDtb2File {
 public:
  // Offered version of the "CkxDtb2File" interface.
  static constexpr uint32_t kOffered = IkxDtb2FileOps::kVersion;
  static constexpr const char* kDynGrowMessage = "OrbKernelDynDataSecGrow";

  // Requests the file interface and registers the dynamic-growth handler.
  CkxDtb2File();
  // Ends the message registration, then releases the interface.
  virtual ~CkxDtb2File();
  CkxDtb2File(const CkxDtb2File&) = delete;
  CkxDtb2File& operator=(const CkxDtb2File&) = delete;

  // Whether the file is open; false below the slot's version.
  bool IsOpen();
  // Notifies every member of a file-wide update.
  void Update(uint32_t uiFlags);
  // Empties every member.
  void Clear(uint32_t uiFlags);
  // Saves the file; `iSaveOld` and `csPath` are the kernel's to read. False
  // when not open, opened read-only or the write failed.
  bool Save(int32_t iSaveOld, bool bDefPath, std::string csPath);
  // Unloads the file; false when it was not open.
  bool UnLoad();
  // The open file's full path; false when not open.
  bool GetFullPath(std::string& csPath);
  // Lets the user choose a file; the two strings are read and written.
  bool SelectFileDlg(const char* csAlias1, const char* csRootPath, std::string& csPathSel,
                     std::string& csFileSetSel, bool bUsePath, bool bEnableScanDisk);
  // Exports the whole file to XML; false when not open or the export failed.
  bool SaveFileAsXml(const char* csPath);
  // Replaces the file's content from XML; false, nothing changed, when
  // refused.
  bool UpdateFileFromXml(const char* csPath);
  // How often the file's storage grew; -1 below the slot's version.
  int32_t GetDynGrowStatus();
  // The two file-wide locks, each held by one thread of one process.
  void GetNGELock();
  void ReleaseNGELock();
  void GetNGMLock();
  void ReleaseNGMLock();
  // Reads the file's indexes into `dim` (all members, or member `csName`).
  void GetObjInd(CkxD2ObjDim& dim);
  void GetObjInd(CkxD2ObjDim& dim, const char* csName);
  // Checks that `dim` describes this file.
  void SetObjInd(CkxD2ObjDim& dim);

  // Names the template family and the file type (slots 3 and 4).
  void NameTemplate(const char* csFamily, const char* csFileType);
  // Registers a member: its kernel handle (0 when the member has no usable
  // object interface) and its class id go to slot 9. Nothing is registered
  // without a usable file interface.
  void RegisterMember(CkxDtb2Obj& member, uint32_t uiClassId);
  // Opens the file (slot 7) and answers the kernel's file id, or a
  // KxOpenFailure: KxOpenNoInterface (-1) without a usable file interface.
  int32_t OpenKernelFile(const char* csPath, const char* csAlias1, const char* csAlias2,
                         const char* csMode, const char* csFileSet, bool bCreate,
                         uint64_t uiDimHandle, uint32_t uiDimDyn, uint32_t uiDimExp);

  // Handler of "OrbKernelDynDataSecGrow" (file id, new status).
  void OrbKernelDynDataSecGrowMess(uint32_t uiMessage, int32_t iFileId, int64_t liNewStatus,
                                   int32_t iCount);

  KxItf<IkxDtb2File> m_File;
  std::unique_ptr<CkxMessageInfoT<CkxDtb2File>> m_pDynGrowMess;
  int32_t m_iDynGrowStatus = 0;
};
