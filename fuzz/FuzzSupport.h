// What both fuzz targets share: one kernel environment per process (scratch
// storage, log and scratch files in a private temporary directory), the
// five file templates, a walk over everything a file holds through the
// library's own element access, and the round trip every file that opened
// must survive: change it, export it, import the export, save it, and open
// the saved file again.
//
// A failure that is clean (the kernel refuses, the library throws its own
// exception) is fine; anything else stops the process with a message, so
// that libFuzzer keeps the input.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "NetInterface/OrbCategBaseClass/KxStartUp.h"
#include "NetInterface/CkxOrbNetInterface/CkxD2Str.h"
#include "NetInterface/CkxOrbNetInterface/KxArray.h"
#include "NetInterface/CkxOrbNetInterface/KxMap.h"
#include "kernel/KxSavedFile.h"
#include "templates/Varnox.h"
#include "templates/VarnoxCatalogue.h"
#include "templates/VarnoxFiles.h"

namespace fuzz {

[[noreturn]] inline void Fail(const std::string& csWhat) {
  std::fprintf(stderr, "FUZZ FAILURE: %s\n", csWhat.c_str());
  std::abort();
}

// The process's scratch directory; the kernel's live directory and log lie
// inside it.
inline const std::string& Scratch() {
  static const std::string csDir = [] {
    char aTemplate[] = "/dev/shm/varnox-fuzz-XXXXXX";
    const char* csMade = mkdtemp(aTemplate);
    if (csMade == nullptr) Fail("cannot make a scratch directory");
    const std::string csMadeDir = csMade;
    std::filesystem::create_directory(csMadeDir + "/live");
    setenv("VARNOX_LIVE_DIR", (csMadeDir + "/live").c_str(), 1);
    // The log is not read: refusals are many and each writes a line.
    setenv("VARNOX_KERNEL_LOG", "/dev/null", 1);
    // Each input opens files of its own, in this process only: the kernel
    // keeps them in memory, with no live directory and no listener thread.
    setenv("VARNOX_KERNEL_SCRATCH", "1", 1);
    if (std::getenv("KxOrb64") == nullptr) setenv("KxOrb64", VARNOX_FUZZ_ORB_ROOT, 1);
    KxInitCatAssembly(false);
    // Kept past the static strings' destruction, for the exit handler.
    static const char* const csRemove = strdup(csMadeDir.c_str());
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(csRemove, ec);
    });
    return csMadeDir;
  }();
  return csDir;
}

inline std::string ScratchPath(const char* csName) { return Scratch() + "/" + csName; }

// Writes `uiSize` bytes to a new `csPath` with plain system calls: a
// stream's set-up would cost more than the few kilobytes written.
inline void WriteFile(const std::string& csPath, const uint8_t* pData, size_t uiSize) {
  const int iFd = open(csPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  std::string csWhy;
  const bool bOk = iFd >= 0 && KxWriteAll(iFd, pData, uiSize, csWhy);
  if (iFd >= 0) close(iFd);
  if (!bOk) Fail("cannot write " + csPath + ": " + csWhy);
}

inline std::string ReadText(const std::string& csPath) {
  std::ifstream in(csPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// How many inputs the kernel refused and how many it took and sent round,
// said at exit: a run where almost nothing is taken tests little beyond the
// checks.
inline uint64_t g_uiRefused = 0;
inline uint64_t g_uiTaken = 0;

inline void SayCountsAtExit() {
  std::atexit([] {
    std::fprintf(stderr, "inputs refused: %llu, taken and sent round: %llu\n",
                 static_cast<unsigned long long>(g_uiRefused),
                 static_cast<unsigned long long>(g_uiTaken));
  });
}

// One top-level member as the library holds it: its kernel object and its
// container (map header, array header or record).
struct Member {
  CkxDtb2Obj* pOwner;
  void* pContainer;
};

template <class T>
Member MemberOf(CkxVarnoxMember<CkxD2MapObjA<T>>& member) {
  return {&member, member.m_Container.m_pHeader};
}
template <class T>
Member MemberOf(CkxVarnoxMember<CkxD2a1dObjDA<T>>& member) {
  return {&member, member.m_Container.m_pHeader};
}
template <class T>
Member MemberOf(CkxVarnoxMember<CkxD2PntA<T>>& member) {
  return {&member, member.m_Container.m_pObject};
}

// An open file of one of the five templates, with its members in
// registration order.
struct OpenFile {
  std::unique_ptr<CkxVarnoxFile> pFile;
  const KxFileType* pType = nullptr;
  std::function<std::vector<Member>()> members;
};

// Whether `csType` names one of the file templates.
inline bool IsFileType(const std::string& csType) {
  bool bKnown = false;
  VarnoxFileTemplates::ForEach([&](auto type) {
    bKnown = bKnown || csType == decltype(type)::type::kFileType;
  });
  return bKnown;
}

// A file template object of type `csType` (null for an unknown type).
inline OpenFile MakeFile(const std::string& csType) {
  OpenFile open;
  VarnoxFileTemplates::ForEach([&](auto type) {
    using File = typename decltype(type)::type;
    if (open.pFile || csType != File::kFileType) return;
    File* pFile = new File;
    open.pFile.reset(pFile);
    open.members = [pFile] {
      std::vector<Member> members;
      VarnoxMembers<File>::ForEach(
          *pFile, [&](const char*, auto& member) { members.push_back(MemberOf(member)); });
      return members;
    };
  });
  const KxCatalogue& catalogue = VarnoxCatalogue();
  for (uint32_t i = 0; i < catalogue.fileCount; ++i) {
    if (csType == catalogue.files[i].name) open.pType = &catalogue.files[i];
  }
  return open;
}

// Reads every field of every record reachable from the members through the
// library's element access (maps by Head/Next and their records, arrays by
// index, strings by their text), as an application would. A damaged
// structure may make the library throw its own exception; nothing else may
// go wrong. Answers a sum of what it read, so that nothing is optimised away.
class LibraryWalk {
 public:
  explicit LibraryWalk(CkxDtb2Obj* pOwner) : m_pOwner(pOwner) {}

  uint64_t Member(const KxMemberClass& memberClass, void* pContainer) {
    if (pContainer == nullptr) return 0;
    KxSetCurrentObject(m_pOwner);
    switch (memberClass.kind) {
      case KxMemberKind::kMap:
        return Map(static_cast<KxContainerHeader*>(pContainer), *memberClass.element, false, 0);
      case KxMemberKind::kArray:
        return Array(static_cast<KxArrayHeader*>(pContainer), *memberClass.element, 0);
      case KxMemberKind::kSingle:
        return Record(*memberClass.element, static_cast<uint8_t*>(pContainer), 0);
    }
    return 0;
  }

 private:
  static constexpr int kDeepest = 16;
  // A walk stops after this many elements: a damaged count must not make
  // it run for long.
  static constexpr uint32_t kMostElements = 1u << 16;

  uint64_t Map(KxContainerHeader* pHeader, const KxRecordType& element, bool bEmbedded,
               int iDepth) {
    KxMapView view(pHeader, m_pOwner, bEmbedded);
    uint64_t uiSum = view.GetCount();
    uint32_t uiSteps = 0;
    for (uint32_t h = view.Command(D2MapCmd::Head, 0, nullptr); h != 0 && uiSteps < kMostElements;
         h = view.Command(D2MapCmd::Next, h, nullptr), ++uiSteps) {
      uint64_t uiKey = 0;
      std::string csKey;
      view.GetKey(h, uiKey, csKey, false, true);
      uiSum += uiKey + csKey.size();
      uiSum += Record(element, view.Record(h, element.size), iDepth + 1);
    }
    return uiSum;
  }

  uint64_t Array(KxArrayHeader* pHeader, const KxRecordType& element, int iDepth) {
    KxArrayView view(pHeader, m_pOwner, iDepth > 0);
    uint64_t uiSum = view.Size();
    for (uint32_t e = 0; e < view.Size() && e < kMostElements; ++e)
      uiSum += Record(element, view.Element(e, element.size), iDepth + 1);
    return uiSum;
  }

  uint64_t Record(const KxRecordType& type, uint8_t* pRecord, int iDepth) {
    if (iDepth > kDeepest) return 0;
    uint64_t uiSum = 0;
    for (uint32_t i = 0; i < type.fieldCount; ++i) {
      const KxRecordField& field = type.fields[i];
      uint8_t* pField = pRecord + field.offset;
      switch (field.kind) {
        case KxFieldKind::kMap:
          uiSum += Map(reinterpret_cast<KxContainerHeader*>(pField), *field.element, true, iDepth);
          break;
        case KxFieldKind::kArray:
          uiSum += Array(reinterpret_cast<KxArrayHeader*>(pField), *field.element, iDepth);
          break;
        case KxFieldKind::kStrDU:
          uiSum += Text(*reinterpret_cast<CkxD2StrDU*>(pField));
          break;
        case KxFieldKind::kStrD:
          uiSum += Text(*reinterpret_cast<CkxD2StrD*>(pField));
          break;
        case KxFieldKind::kRecord:
          uiSum += Record(*field.element, pField, iDepth + 1);
          break;
        default:
          uiSum += pField[0];
          break;
      }
    }
    return uiSum;
  }

  template <class Field>
  static uint64_t Text(Field& field) {
    int iLength = 0;
    const auto* pText = field.GetNet(&iLength);
    uint64_t uiSum = 0;
    for (int i = 0; i < iLength; ++i) uiSum += static_cast<uint64_t>(pText[i]);
    return uiSum;
  }

  CkxDtb2Obj* m_pOwner;
};

// Changes what an application would: adds an entry to every top-level map
// and writes a text into its first string field, appends an element to
// every top-level array.
inline void Change(const KxFileType& type, const std::vector<Member>& members) {
  for (size_t i = 0; i < members.size(); ++i) {
    const KxMemberClass& memberClass = *type.members[i].memberClass;
    CkxDtb2Obj* pOwner = members[i].pOwner;
    KxSetCurrentObject(pOwner);
    if (memberClass.kind == KxMemberKind::kMap) {
      KxMapView view(static_cast<KxContainerHeader*>(members[i].pContainer), pOwner, false);
      const uint32_t uiHandle = view.Command(D2MapCmd::Add, 424242, "fuzz-added");
      if (uiHandle == 0) continue;
      uint8_t* pRecord = view.Record(uiHandle, memberClass.element->size);
      for (uint32_t f = 0; f < memberClass.element->fieldCount; ++f) {
        const KxRecordField& field = memberClass.element->fields[f];
        if (field.kind != KxFieldKind::kStrDU) continue;
        auto& text = *reinterpret_cast<CkxD2StrDU*>(pRecord + field.offset);
        text.ReserveNet(5);
        // The reserve may have moved the text: reach the record again.
        pRecord = view.Record(uiHandle, memberClass.element->size);
        reinterpret_cast<CkxD2StrDU*>(pRecord + field.offset)->SetNet(u"fuzzy", 5);
        break;
      }
    } else if (memberClass.kind == KxMemberKind::kArray) {
      KxArrayView(static_cast<KxArrayHeader*>(members[i].pContainer), pOwner, false).Add();
    }
  }
}

// The round trip of a file that opened as `open`: walk, change, export,
// import the export, walk again, save, and open the saved file again.
inline void RoundTrip(OpenFile& open, bool bChange) {
  CkxVarnoxFile& file = *open.pFile;
  uint64_t uiSum = 0;
  auto walk = [&] {
    const std::vector<Member> members = open.members();
    for (size_t i = 0; i < members.size(); ++i) {
      try {
        uiSum += LibraryWalk(members[i].pOwner)
                     .Member(*open.pType->members[i].memberClass, members[i].pContainer);
      } catch (const CkxOrbUnmanException&) {
        // The library refused a handle or an index: a clean failure.
      }
    }
  };
  walk();
  if (bChange) {
    try {
      Change(*open.pType, open.members());
    } catch (const CkxOrbUnmanException&) {
    }
  }
  const std::string csXml = ScratchPath("export.xml");
  if (file.SaveFileAsXml(csXml.c_str())) {
    // A document the kernel wrote itself must import.
    if (!file.UpdateFileFromXml(csXml.c_str())) Fail("the file's own export does not import");
    walk();
  }
  const std::string csSaved = ScratchPath("saved.orb");
  if (!file.Save(0, false, csSaved)) Fail("a file that opened does not save");
  file.UnLoad();
  if (file.OpenUnm(csSaved.c_str(), nullptr, nullptr, "r", "", false, nullptr, 0, 0, nullptr) <= 0)
    Fail("the kernel refuses a file it saved");
  walk();
  if (!file.SaveFileAsXml(csXml.c_str())) Fail("a file the kernel saved does not export");
  file.UnLoad();
  if (uiSum == 1) std::fputc('\n', stderr);  // keeps the walks
}

}  // namespace fuzz
