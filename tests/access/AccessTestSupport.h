// What the object face's tests share: the five files opened new on the
// reference kernel with their top-level wrappers, the native ways to their
// records, and the message of a failed operation.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "access/VarnoxAccess.h"
#include "contracts/kernel/KxText.h"
#include "files/D2fFile.h"
#include "templates/Varnox.h"
#include "tests/kernel/KernelTestSupport.h"

namespace access_test {

using namespace Tarvex::Orb;
using namespace Tarvex::Orb::DataDirectAcces;
using namespace Tarvex::Orb::Data::Varnox;

// A handle beyond the last valid handle of every test file.
inline constexpr uint32_t kGarbageHandle = 0x00FFFFF0;

inline std::string U8(std::u16string_view csText) { return KxText::Utf16ToUtf8(csText); }

// The message of the OrbKernelException that `op` raises, in UTF-8, or what
// happened instead, so that a failed comparison says it.
inline std::string MessageOf(const std::function<void()>& op) {
  try {
    op();
  } catch (const OrbKernelException& e) {
    return U8(e.Message());
  } catch (const CkxOrbUnmanException&) {
    return "a native exception that no guard caught";
  } catch (const std::exception& e) {
    return std::string("another exception: ") + e.what();
  }
  return "no exception";
}

// A dynamic string field's text as the native face reads it.
template <class Field>
auto NativeText(const Field& field) {
  int iLength = 0;
  const auto* p = field.GetNet(&iLength);
  using Char = std::remove_cv_t<std::remove_pointer_t<decltype(p)>>;
  return iLength > 0 ? std::basic_string<Char>(p, static_cast<size_t>(iLength))
                     : std::basic_string<Char>();
}

// Writes a dynamic string field natively: reserve, reach the field again (the
// reservation may move the dynamic data), copy.
template <class Reach, class Char>
void NativeSetText(Reach reach, const std::basic_string<Char>& csText) {
  const int iLength = static_cast<int>(csText.size());
  reach().ReserveNet(iLength);
  reach().SetNet(csText.c_str(), iLength);
}

// The byte of a one-byte boolean field, read and written as a byte so that a
// stored 2 is no undefined bool on our side.
inline uint8_t& ByteOf(bool& bField) { return *reinterpret_cast<uint8_t*>(&bField); }

// A path in the scratch directory, as the file wrappers take it.
inline std::u16string ScratchPath(const std::string& csName) {
  return KxText::Utf8ToUtf16(KernelScratch::Get().Path(csName));
}

// Opens the file wrapper `file` as a new file at `csPath`; the kernel's file
// id, not positive when refused.
inline int32_t OpenNewWrapper(D2fFileBase& file, const std::u16string& csPath) {
  return file.Open(csPath, std::nullopt, std::nullopt, u"rw", u"", true, nullptr, 0, 0);
}

template <class File>
void OpenNew(File& file, const std::string& csStem) {
  static std::atomic<int> s_iCount{0};
  const std::string csPath =
      KernelScratch::Get().Path(csStem + "-" + std::to_string(s_iCount++) + ".orb");
  if (!OpenNative(file, csPath))
    throw std::runtime_error("cannot open " + csPath + "\n" + KernelScratch::Get().Log());
}

// The five files of a meet, opened new and empty, with a factory for each
// top-level wrapper (no file wrapper: pFileM is null) and the native ways to
// their records.
class Meet {
 public:
  Meet() {
    OpenNew(competitors, "competitors");
    OpenNew(globals, "globals");
    OpenNew(races, "races");
    OpenNew(pulses, "pulses");
    OpenNew(iosetup, "iosetup");
  }
  ~Meet() { UnLoadAll(); }
  Meet(const Meet&) = delete;
  Meet& operator=(const Meet&) = delete;

  void UnLoadAll() {
    competitors.UnLoad();
    globals.UnLoad();
    races.UnLoad();
    pulses.UnLoad();
    iosetup.UnLoad();
  }

  // Top-level wrappers, a new one on every call.
#define VARNOX_TOP(NAME, FILE, FILE_TYPE, MEMBER)                                            \
  auto NAME() {                                                                              \
    return std::make_shared<D2oVarnox_FT_##FILE_TYPE##_##MEMBER>(&FILE.m_##MEMBER, nullptr); \
  }
  VARNOX_TOP(Competitors, competitors, COMPETITORS, CompetitorsStringMap)
  VARNOX_TOP(PoolConfig, globals, GLOBALS, PoolConfig)
  VARNOX_TOP(Distances, globals, GLOBALS, DistancesDefault)
  VARNOX_TOP(Rounds, globals, GLOBALS, RoundsDefault)
  VARNOX_TOP(Records, globals, GLOBALS, Records)
  VARNOX_TOP(Schedule, races, RACES, ScheduleEntries)
  VARNOX_TOP(PoolEvents, pulses, RAW_PULSES, PoolEvents)
  VARNOX_TOP(PulsesPoolConfig, pulses, RAW_PULSES, AssociatedPoolConfig)
  VARNOX_TOP(IOs, iosetup, IOSETUP, IOs)
  VARNOX_TOP(IODefaults, iosetup, IOSETUP, IODefaultTypeParams)
#undef VARNOX_TOP

  // A heat's proxy and a lane's lap array, each level added when missing.
  auto Heat(const char16_t* csEntry, const char16_t* csHeat) {
    return Schedule()->Item(csEntry)->Heats()->Item(csHeat);
  }
  auto Laps(const char16_t* csEntry, const char16_t* csHeat, uint64_t uiLane) {
    return Heat(csEntry, csHeat)->LaneResults()->Item(uiLane)->Laps();
  }

  // Native records by key.
  template <class Map>
  static auto& ByKey(Map& map, uint64_t uiKey) {
    return map[map(D2MapCmd::Find, uiKey, nullptr)];
  }
  template <class Map>
  static auto& ByKey(Map& map, const char* csKey) {
    return map[map(D2MapCmd::Find, 0, csKey)];
  }
  CkxScheduleOneEntry& NativeEntry(const char* csKey) {
    return ByKey(races.m_ScheduleEntries.m_Container, csKey);
  }
  CkxCompOneHeat& NativeHeat(const char* csEntry, const char* csHeat) {
    return ByKey(NativeEntry(csEntry).Heats, csHeat);
  }
  CkxCompOneLane& NativeLane(const char* csEntry, const char* csHeat, uint64_t uiLane) {
    return ByKey(NativeHeat(csEntry, csHeat).LaneResults, uiLane);
  }

  CkxVarnoxFT_COMPETITORS competitors;
  CkxVarnoxFT_GLOBALS globals;
  CkxVarnoxFT_RACES races;
  CkxVarnoxFT_RAW_PULSES pulses;
  CkxVarnoxFT_IOSETUP iosetup;
};

}  // namespace access_test
