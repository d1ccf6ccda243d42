// .lxf archives: the one .lef they hold comes back as it went in, and the
// archives that could smuggle in something else are refused.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "lenex/Lenex.h"
#include "tests/lenex/LenexTestDocument.h"

namespace {

using namespace Varnox::Lenex;

const std::string kLef = Testing::StartList();

// An archive of the named entries, each holding kLef, written by libzip
// itself (so that any name and any count can be made).
std::string ArchiveOf(const std::vector<std::string>& names) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("lenex-archive-" + std::to_string(getpid()) + ".zip");
  std::filesystem::remove(path);
  int iError = 0;
  zip_t* pZip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &iError);
  if (pZip == nullptr) throw std::runtime_error("no archive");
  for (const std::string& name : names) {
    zip_source_t* pData = zip_source_buffer(pZip, kLef.data(), kLef.size(), 0);
    if (zip_file_add(pZip, name.c_str(), pData, ZIP_FL_ENC_UTF_8) < 0) zip_source_free(pData);
  }
  zip_close(pZip);
  std::string csBytes(std::filesystem::file_size(path), '\0');
  FILE* pFile = std::fopen(path.c_str(), "rb");
  const size_t uiRead = std::fread(csBytes.data(), 1, csBytes.size(), pFile);
  std::fclose(pFile);
  std::filesystem::remove(path);
  csBytes.resize(uiRead);
  return csBytes;
}

// The archive with the uncompressed size of its entry changed by iDelta in
// the local header and in the central directory alike (so the two agree and
// only the data gives the lie away).
std::string WithSizeChangedBy(std::string csArchive, int32_t iDelta) {
  auto patch = [&](const char* csSignature, size_t uiOffset) {
    const size_t uiAt = csArchive.find(csSignature);
    if (uiAt == std::string::npos) throw std::runtime_error("no header");
    uint32_t uiSize = 0;
    std::memcpy(&uiSize, csArchive.data() + uiAt + uiOffset, 4);
    uiSize = static_cast<uint32_t>(static_cast<int64_t>(uiSize) + iDelta);
    std::memcpy(csArchive.data() + uiAt + uiOffset, &uiSize, 4);
  };
  patch("PK\x03\x04", 22);
  patch("PK\x01\x02", 24);
  return csArchive;
}

// A document written to a file of either kind reads back equal; the .lef of
// an archive made elsewhere, under any name, comes back byte for byte.
TEST(LenexArchiveTest, FilesOfBothKindsRoundTrip) {
  EXPECT_EQ(ExtractLxf(ArchiveOf({"Any Name.LEF"})), kLef);
  const Document document = ReadLef(kLef);
  const std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("lenex-files-" + std::to_string(getpid()));
  std::filesystem::create_directories(directory);
  for (const char* csName : {"meet.lef", "meet.lxf", "MEET.LXF"}) {
    WriteLenexFile(directory / csName, document);
    EXPECT_EQ(ReadLenexFile(directory / csName), document) << csName;
  }
  EXPECT_THROW(WriteLenexFile(directory / "meet.xml", document), LenexError);
  std::filesystem::remove_all(directory);
}

struct ArchiveRefusal {
  const char* name;
  std::function<std::string()> archive;
  std::string says;  // part of the refusal
};

class LenexArchiveRefusalTest : public testing::TestWithParam<ArchiveRefusal> {};

TEST_P(LenexArchiveRefusalTest, IsRefusedWithItsReason) {
  LenexLimits limits;
  limits.uiMaxDocumentBytes = 4096;
  try {
    ExtractLxf(GetParam().archive(), limits);
    FAIL() << "extracted without refusal";
  } catch (const LenexError& error) {
    EXPECT_NE(std::string(error.what()).find(GetParam().says), std::string::npos) << error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LenexArchiveRefusalTest,
    testing::Values(
        ArchiveRefusal{"NoZip", [] { return kLef; }, "a ZIP archive"},
        ArchiveRefusal{"Empty", [] { return std::string("PK\x05\x06") + std::string(18, '\0'); },
                       "exactly one"},
        ArchiveRefusal{"TwoEntries",
                       [] {
                         return ArchiveOf({"a.lef", "b.lef"});
                       },
                       "exactly one"},
        ArchiveRefusal{"PathInName", [] { return ArchiveOf({"dir/meet.lef"}); }, "holds a path"},
        ArchiveRefusal{"BackslashInName", [] { return ArchiveOf({"dir\\meet.lef"}); },
                       "holds a path"},
        ArchiveRefusal{"NoLef", [] { return ArchiveOf({"meet.xml"}); }, "no .lef"},
        ArchiveRefusal{"SizeTooSmall",
                       [] { return WithSizeChangedBy(PackLxf(kLef, "meet.lef"), -10); }, "size"},
        ArchiveRefusal{"SizeTooLarge",
                       [] { return WithSizeChangedBy(PackLxf(kLef, "meet.lef"), 10); }, "size"},
        ArchiveRefusal{"BeyondTheLimit",
                       [] { return PackLxf(std::string(5000, ' ') + kLef, "meet.lef"); },
                       "at most 4096 bytes"}),
    [](const auto& one) { return std::string(one.param.name); });

}  // namespace
