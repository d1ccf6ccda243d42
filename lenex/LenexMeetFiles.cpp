// Import and export on a meet folder: opening the three files, and the save
// of an import, which writes every file beside itself before any replaces
// the old one.
#include <unistd.h>

#include <stdexcept>
#include <system_error>

#include "lenex/LenexFace.h"

namespace Varnox::Lenex {

namespace {

namespace V = Tarvex::Orb::Data::Varnox;
using Tarvex::Orb::DataDirectAcces::D2fFileBase;

template <class F>
std::shared_ptr<F> OpenFile(const std::filesystem::path& path, const char16_t* csMode,
                            bool bCreate) {
  auto pFile = F::Create();
  const int32_t iId = pFile->Open(Face::U16(path.string()), std::nullopt, std::nullopt, csMode, u"",
                                  bCreate, nullptr, 0, 0);
  if (iId <= 0) {
    pFile->Dispose();
    throw std::runtime_error("cannot open " + path.string() + " (the kernel refused it with " +
                             std::to_string(iId) + "; its log says why)");
  }
  return pFile;
}

}  // namespace

void CloseMeetFiles(MeetFiles& files) {
  for (D2fFileBase* pFile : {static_cast<D2fFileBase*>(files.competitors.get()),
                             static_cast<D2fFileBase*>(files.globals.get()),
                             static_cast<D2fFileBase*>(files.races.get())}) {
    if (pFile == nullptr) continue;
    pFile->UnLoad();
    pFile->Dispose();
  }
  files = {};
}

namespace {

// The three files, unloaded and disposed when it ends.
class OpenMeet {
 public:
  OpenMeet(const MeetPaths& paths, const char16_t* csMode, bool bCreate) {
    try {
      m_Files.competitors =
          OpenFile<V::D2fVarnox_FT_COMPETITORS>(paths.competitors, csMode, bCreate);
      m_Files.globals = OpenFile<V::D2fVarnox_FT_GLOBALS>(paths.globals, csMode, bCreate);
      m_Files.races = OpenFile<V::D2fVarnox_FT_RACES>(paths.races, csMode, bCreate);
    } catch (...) {
      Close();
      throw;
    }
  }
  ~OpenMeet() { Close(); }
  OpenMeet(const OpenMeet&) = delete;
  OpenMeet& operator=(const OpenMeet&) = delete;

  MeetFiles& Files() { return m_Files; }

 private:
  void Close() { CloseMeetFiles(m_Files); }

  MeetFiles m_Files;
};

std::filesystem::path Staged(const std::filesystem::path& path) {
  return path.string() + ".lenex." + std::to_string(getpid());
}

// Saves each file beside itself, then renames all three over the old ones.
void SaveAll(MeetFiles& files, const MeetPaths& paths) {
  const std::pair<D2fFileBase*, const std::filesystem::path*> targets[] = {
      {files.competitors.get(), &paths.competitors},
      {files.globals.get(), &paths.globals},
      {files.races.get(), &paths.races}};
  auto removeStaged = [&] {
    std::error_code error;
    for (const auto& [pFile, pPath] : targets) std::filesystem::remove(Staged(*pPath), error);
  };
  for (const auto& [pFile, pPath] : targets) {
    if (!pFile->Save(0, false, Face::U16(Staged(*pPath).string()))) {
      removeStaged();
      throw std::runtime_error("saving " + pPath->string() +
                               " failed (see the kernel log); no file was changed");
    }
  }
  std::string csRenamed;
  for (const auto& [pFile, pPath] : targets) {
    std::error_code error;
    std::filesystem::rename(Staged(*pPath), *pPath, error);
    if (error)
      throw std::runtime_error("replacing " + pPath->string() + " failed (" + error.message() +
                               "); " + (csRenamed.empty() ? "no file" : csRenamed) +
                               " holds the import, the others do not");
    csRenamed += (csRenamed.empty() ? "" : ", ") + pPath->filename().string();
  }
}

}  // namespace

MeetPaths MeetPaths::In(const std::filesystem::path& dir) {
  return {dir / "competitors.orb", dir / "globals.orb", dir / "races.orb"};
}

ImportReport LenexImportFiles(const std::filesystem::path& dir,
                              const std::filesystem::path& lenexPath) {
  const std::string csLef = ReadLenexText(lenexPath);
  const MeetPaths paths = MeetPaths::In(dir);
  OpenMeet meet(paths, u"rw", true);
  const ImportReport report = ImportLef(csLef, meet.Files());
  SaveAll(meet.Files(), paths);
  return report;
}

void LenexExportFiles(const std::filesystem::path& dir, const std::filesystem::path& lenexPath) {
  Document document;
  {
    OpenMeet meet(MeetPaths::In(dir), u"r", false);
    document = ExportDocument(meet.Files());
  }
  WriteLenexFile(lenexPath, document);
}

}  // namespace Varnox::Lenex
