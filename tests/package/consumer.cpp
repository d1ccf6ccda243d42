// An application built against the installed package only. It creates a
// competitors file on the kernel KxOrb64 names through the native face, fills
// and saves it, then reads it back through the object face (a file wrapper
// and its proxies) and checks that the same competitors come back. Exit
// codes: 0 done, 2 usage, 3 a step failed (said on standard error). With
// KxOrb64 unset the start-up itself ends the process with its message and
// exit code 1.
#include <cstdio>
#include <optional>
#include <string>

#include <varnox/Varnox.h>

namespace {

const char16_t* const kNames[] = {u"Anna Keller", u"Marta Nowak", u"Julie Martin"};
constexpr uint64_t kFirstId = 1000;

bool Fail(const char* csWhat, const std::string& csPath) {
  std::fprintf(stderr, "consumer: %s %s\n", csWhat, csPath.c_str());
  return false;
}

bool Create(const std::string& csPath) {
  CkxVarnoxFT_COMPETITORS file;
  if (file.OpenUnm(csPath.c_str(), nullptr, nullptr, "rw", "", true, nullptr, 0, 0, nullptr) <= 0)
    return Fail("cannot create", csPath);
  auto& map = file.m_CompetitorsStringMap.m_Container;
  for (uint64_t i = 0; i < std::size(kNames); ++i) {
    const uint32_t uiHandle = map(D2MapCmd::Add, kFirstId + i, nullptr);
    map[uiHandle].CompetitorId = static_cast<int32_t>(kFirstId + i);
    // Reserve, reach the record again, then copy: the reserve may move the text.
    const std::u16string csName = kNames[i];
    map[uiHandle].Name.ReserveNet(static_cast<int>(csName.size()));
    map[uiHandle].Name.SetNet(csName.data(), static_cast<int>(csName.size()));
  }
  if (!file.Save(0, true, "")) return Fail("cannot save", csPath);
  file.UnLoad();
  return true;
}

// The same file through the object face: a file wrapper opens it and the
// proxies of its competitors' map read the names.
bool ReadThroughTheObjectFace(const std::string& csPath) {
  using Tarvex::Orb::Data::Varnox::D2fVarnox_FT_COMPETITORS;
  const auto pFile = D2fVarnox_FT_COMPETITORS::Create();
  if (pFile->Open(std::u16string(csPath.begin(), csPath.end()), std::nullopt, std::nullopt, u"r",
                  u"", false, nullptr, 0, 0) <= 0) {
    return Fail("cannot open through a file wrapper", csPath);
  }
  const auto pMap = pFile->CompetitorsStringMap();
  bool bSame = pMap->GetCount() == std::size(kNames);
  for (uint64_t i = 0; i < std::size(kNames) && bSame; ++i) {
    const uint32_t uiHandle = pMap->Find(kFirstId + i);
    const std::u16string csName = uiHandle != 0 ? pMap->Item(uiHandle)->Name() : u"";
    bSame = csName == kNames[i];
  }
  pFile->UnLoad();
  return bSame || Fail("reads back other competitors through a file wrapper from", csPath);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: consumer FILE\n");
    return 2;
  }
  KxInitCatAssembly(false);
  const bool bDone = Create(argv[1]) && ReadThroughTheObjectFace(argv[1]);
  // The end of the application: the object face ends its file wrappers and
  // its own start of the native face.
  if (Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::m_bInitOk) {
    Tarvex::Orb::DataDirectAcces::CkxOrbCategTools::OnEndNetApplication(0, 0, nullptr, nullptr);
  }
  KxEndCatAssembly();
  return bDone ? 0 : 3;
}
