// The object face's library-wide state: its one-time start, the table of
// open file wrappers and the end-of-application sequence.
#pragma once

#include <cstdint>
#include <memory>

#include "contracts/framework/OrbFileM.h"

namespace Tarvex::Orb::DataDirectAcces {

class CkxOrbCategTools {
 public:
  CkxOrbCategTools() = delete;

  // Starts the object face once: starts the native face (debug kernel in a
  // debug application), registers OnEndNetApplication for the kernel
  // message "EndNetApplicationMsg" and creates the empty open-files table.
  // Later calls do nothing, also after the end of the application.
  static void Init();

  // The end of the application: ends every open file wrapper (on a copy of
  // the table, so a wrapper may remove itself meanwhile), drops the table,
  // ends the native face and withdraws the message registration. The
  // arguments are the message's and are not used.
  static void OnEndNetApplication(int64_t liCmd, int64_t liPar, const void* pData,
                                  const void* pSender);

  static bool m_bInitOk;         // Init has run
  static int32_t m_iEndNetAppId;  // registration of the end-of-application message
  // The open file wrappers by LocalFileId; null before Init and after the end.
  static std::shared_ptr<OrbOpenFileTable> m_OpenFiles;
};

}  // namespace Tarvex::Orb::DataDirectAcces
