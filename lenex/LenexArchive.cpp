// .lxf archives through libzip, and the reading and writing of .lef and
// .lxf files.
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>

#include "lenex/Lenex.h"

namespace Varnox::Lenex {

namespace {

[[noreturn]] void RefuseArchive(const std::string& csProblem, const std::string& csExpected) {
  throw LenexError("", "", 0, "the .lxf archive is refused: " + csProblem, csExpected);
}

bool EndsWithLef(const std::string& csName) {
  if (csName.size() < 4) return false;
  std::string csEnd = csName.substr(csName.size() - 4);
  std::transform(csEnd.begin(), csEnd.end(), csEnd.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return csEnd == ".lef";
}

// A plain file name: no directory, no drive, no parent step.
bool IsPlainName(const std::string& csName) {
  return !csName.empty() && csName.find_first_of("/\\:") == std::string::npos && csName != "." &&
         csName != "..";
}

struct ZipCloser {
  void operator()(zip_t* pArchive) const { zip_discard(pArchive); }
};
struct ZipFileCloser {
  void operator()(zip_file_t* pFile) const { zip_fclose(pFile); }
};
struct SourceFreer {
  void operator()(zip_source_t* pSource) const { zip_source_free(pSource); }
};

std::string ZipMessage(zip_error_t& error) {
  std::string csMessage = zip_error_strerror(&error);
  zip_error_fini(&error);
  return csMessage;
}

}  // namespace

std::string ExtractLxf(std::string_view archive, const LenexLimits& limits) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* pSource = zip_source_buffer_create(archive.data(), archive.size(), 0, &error);
  if (pSource == nullptr) RefuseArchive(ZipMessage(error), "a ZIP archive");
  // ZIP_CHECKCONS: the central directory must agree with the local headers.
  std::unique_ptr<zip_t, ZipCloser> pZip(
      zip_open_from_source(pSource, ZIP_RDONLY | ZIP_CHECKCONS, &error));
  if (!pZip) {
    zip_source_free(pSource);
    RefuseArchive(ZipMessage(error), "a ZIP archive");
  }
  zip_error_fini(&error);
  const zip_int64_t iEntries = zip_get_num_entries(pZip.get(), 0);
  if (iEntries != 1)
    RefuseArchive("it holds " + std::to_string(iEntries) + " entries", "exactly one .lef entry");
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(pZip.get(), 0, 0, &stat) != 0 || (stat.valid & ZIP_STAT_NAME) == 0 ||
      (stat.valid & ZIP_STAT_SIZE) == 0)
    RefuseArchive(zip_strerror(pZip.get()), "a readable entry");
  const std::string csName = stat.name;
  if (!IsPlainName(csName))
    RefuseArchive("the entry name \"" + csName + "\" holds a path", "a plain file name");
  if (!EndsWithLef(csName))
    RefuseArchive("the entry \"" + csName + "\" is no .lef", "an entry ending in .lef");
  if (stat.size > limits.uiMaxDocumentBytes)
    RefuseArchive("the entry is " + std::to_string(stat.size) + " bytes",
                  "at most " + std::to_string(limits.uiMaxDocumentBytes) + " bytes");

  std::unique_ptr<zip_file_t, ZipFileCloser> pFile(zip_fopen_index(pZip.get(), 0, 0));
  if (!pFile) RefuseArchive(zip_strerror(pZip.get()), "a readable entry");
  // One byte more than the entry claims: an entry that inflates beyond its
  // size is caught here, one that falls short or fails its checksum by
  // libzip.
  std::string csLef(static_cast<size_t>(stat.size) + 1, '\0');
  zip_uint64_t uiRead = 0;
  while (uiRead < csLef.size()) {
    const zip_int64_t iRead = zip_fread(pFile.get(), csLef.data() + uiRead, csLef.size() - uiRead);
    if (iRead < 0)
      RefuseArchive(std::string("the entry does not read: ") + zip_file_strerror(pFile.get()),
                    "an entry whose size and checksum hold");
    if (iRead == 0) break;
    uiRead += static_cast<zip_uint64_t>(iRead);
  }
  if (uiRead != stat.size)
    RefuseArchive("the entry holds " + std::string(uiRead > stat.size ? "more" : "fewer") +
                      " bytes than its stated " + std::to_string(stat.size),
                  "an entry whose size holds");
  csLef.resize(uiRead);
  return csLef;
}

std::string PackLxf(std::string_view lef, const std::string& csEntryName) {
  if (!IsPlainName(csEntryName) || !EndsWithLef(csEntryName))
    throw LenexError("", "", 0, "the entry name \"" + csEntryName + "\" is refused",
                     "a plain file name ending in .lef");
  zip_error_t error;
  zip_error_init(&error);
  std::unique_ptr<zip_source_t, SourceFreer> pTarget(
      zip_source_buffer_create(nullptr, 0, 0, &error));
  if (!pTarget) throw LenexError("", "", 0, "the archive cannot be made: " + ZipMessage(error), "");
  zip_source_keep(pTarget.get());  // kept past zip_close to read the archive from
  zip_t* pZip = zip_open_from_source(pTarget.get(), ZIP_TRUNCATE, &error);
  if (pZip == nullptr) {
    zip_source_free(pTarget.get());
    throw LenexError("", "", 0, "the archive cannot be made: " + ZipMessage(error), "");
  }
  zip_error_fini(&error);
  auto fail = [&](const std::string& csWhat) {
    const std::string csWhy = zip_strerror(pZip);
    zip_discard(pZip);
    throw LenexError("", "", 0, csWhat + ": " + csWhy, "");
  };
  zip_source_t* pData = zip_source_buffer(pZip, lef.data(), lef.size(), 0);
  if (pData == nullptr) fail("the entry cannot be added");
  const zip_int64_t iIndex = zip_file_add(pZip, csEntryName.c_str(), pData, ZIP_FL_ENC_UTF_8);
  if (iIndex < 0) {
    zip_source_free(pData);
    fail("the entry cannot be added");
  }
  zip_set_file_compression(pZip, static_cast<zip_uint64_t>(iIndex), ZIP_CM_DEFLATE, 0);
  if (zip_close(pZip) != 0) fail("the archive cannot be written");

  zip_source_t* pArchive = pTarget.get();
  std::string csArchive;
  if (zip_source_open(pArchive) != 0)
    throw LenexError("", "", 0, "the archive cannot be read back", "");
  zip_source_seek(pArchive, 0, SEEK_END);
  const zip_int64_t iSize = zip_source_tell(pArchive);
  zip_source_seek(pArchive, 0, SEEK_SET);
  csArchive.resize(static_cast<size_t>(std::max<zip_int64_t>(iSize, 0)));
  const zip_int64_t iRead = zip_source_read(pArchive, csArchive.data(), csArchive.size());
  zip_source_close(pArchive);
  if (iRead != iSize) throw LenexError("", "", 0, "the archive cannot be read back", "");
  return csArchive;
}

namespace {

bool IsLxf(const std::filesystem::path& path) {
  std::string csExtension = path.extension().string();
  std::transform(csExtension.begin(), csExtension.end(), csExtension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (csExtension == ".lxf") return true;
  if (csExtension == ".lef") return false;
  throw LenexError("", "", 0, "the file " + path.string() + " is neither .lef nor .lxf",
                   "a file name ending in .lef or .lxf");
}

std::string ReadWhole(const std::filesystem::path& path, uint64_t uiMax) {
  std::error_code error;
  const auto uiSize = std::filesystem::file_size(path, error);
  if (error)
    throw LenexError("", "", 0, "cannot read " + path.string() + ": " + error.message(), "");
  if (uiSize > uiMax)
    throw LenexError("", "", 0, "the file " + path.string() + " is too large",
                     "at most " + std::to_string(uiMax) + " bytes");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in) throw LenexError("", "", 0, "cannot read " + path.string(), "");
  return std::move(bytes).str();
}

}  // namespace

std::string ReadLenexText(const std::filesystem::path& path, const LenexLimits& limits) {
  if (!IsLxf(path)) return ReadWhole(path, limits.uiMaxDocumentBytes);
  // The archive itself is compressed: it may be no larger than the document.
  return ExtractLxf(ReadWhole(path, limits.uiMaxDocumentBytes), limits);
}

Document ReadLenexFile(const std::filesystem::path& path, const LenexLimits& limits) {
  return ReadLef(ReadLenexText(path, limits), limits);
}

void WriteLenexFile(const std::filesystem::path& path, const Document& document) {
  std::string csBytes = WriteLef(document);
  if (IsLxf(path)) csBytes = PackLxf(csBytes, path.stem().string() + ".lef");
  const std::filesystem::path temporary = path.string() + ".writing";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(csBytes.data(), static_cast<std::streamsize>(csBytes.size()));
    out.flush();
    if (!out) {
      std::filesystem::remove(temporary);
      throw LenexError("", "", 0, "cannot write " + temporary.string(), "");
    }
  }
  std::error_code error;
  std::filesystem::rename(temporary, path, error);
  if (error) {
    std::filesystem::remove(temporary);
    throw LenexError("", "", 0, "cannot write " + path.string() + ": " + error.message(), "");
  }
}

}  // namespace Varnox::Lenex
