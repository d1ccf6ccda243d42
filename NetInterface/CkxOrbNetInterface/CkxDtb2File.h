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
// Every operation checks the granted version of the file interface first
// (the minimum stands in brackets) and falls back below it: false, -1 or
// nothing done. No operation throws; the kernel's boolean results pass
// through unchanged.
//
// The file also listens to "OrbKernelDynDataSecGrow": when the kernel
// reports that this file's dynamic data grew, the new status is stored and
// logged.
class CkxDtb2File {
 public:
  // Offered version of the "CkxDtb2File" interface.
  static constexpr uint32_t kOffered = 16;
  static constexpr const char* kDynGrowMessage = "OrbKernelDynDataSecGrow";

  // Requests the file interface and registers the dynamic-growth handler.
  CkxDtb2File();
  // Ends the message registration, then releases the interface.
  virtual ~CkxDtb2File();
  CkxDtb2File(const CkxDtb2File&) = delete;
  CkxDtb2File& operator=(const CkxDtb2File&) = delete;

  bool IsOpen();                  // [3]
  void Update(uint32_t uiFlags);  // [11]
  void Clear(uint32_t uiFlags);   // [4]
  // [7] Saves the file; `iSaveOld` and `csPath` are the kernel's to read.
  bool Save(int32_t iSaveOld, bool bDefPath, std::string csPath);
  bool UnLoad();                          // [9]
  bool GetFullPath(std::string& csPath);  // [9]
  // [5] Lets the user choose a file; the two strings are read and written.
  bool SelectFileDlg(const char* csAlias1, const char* csRootPath, std::string& csPathSel,
                     std::string& csFileSetSel, bool bUsePath, bool bEnableScanDisk);
  bool SaveFileAsXml(const char* csPath);                // [16]
  bool UpdateFileFromXml(const char* csPath);            // [16]
  int32_t GetDynGrowStatus();                            // [12], -1 below
  void GetNGELock();                                     // [14]
  void ReleaseNGELock();                                 // [14]
  void GetNGMLock();                                     // [14]
  void ReleaseNGMLock();                                 // [14]
  void GetObjInd(CkxD2ObjDim& dim);                      // [1]
  void GetObjInd(CkxD2ObjDim& dim, const char* csName);  // [15]
  void SetObjInd(CkxD2ObjDim& dim);                      // [1]

  // Names the template family and the file type (slots 3 and 4).
  void NameTemplate(const char* csFamily, const char* csFileType);
  // Registers a member: its kernel handle (0 when the member has no usable
  // object interface) and its class id go to slot 9. Nothing is registered
  // without a usable file interface.
  void RegisterMember(CkxDtb2Obj& member, uint32_t uiClassId);
  // Opens the file (slot 7) and answers the kernel's file id, or -1 without
  // a usable file interface.
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
