#include "tools/LenexCommand.h"

#include <cstdio>
#include <string>

#include "lenex/LenexMeet.h"

namespace {

int LenexUsage() {
  std::fprintf(stderr,
               "usage: varnox lenex import DIR FILE.lef|FILE.lxf | varnox lenex export DIR "
               "FILE.lef|FILE.lxf\n");
  return 2;
}

void PrintReport(const Varnox::Lenex::ImportReport& report) {
  std::printf("Imported %d competitors, %d events, %d heats, %d lanes, %d records\n",
              report.iCompetitors, report.iEvents, report.iHeats, report.iLanes, report.iRecords);
  if (report.iSkippedRecordLists > 0)
    std::printf("Skipped %d record lists of another course than the meet's\n",
                report.iSkippedRecordLists);
  for (const std::string& csLane : report.keptLanes)
    std::printf("Kept %s: no longer in the start list, but it has lap times\n", csLane.c_str());
}

}  // namespace

int LenexCommand(int argc, char** argv) {
  if (argc != 5) return LenexUsage();
  const std::string csAction = argv[2];
  try {
    if (csAction == "import") {
      PrintReport(Varnox::Lenex::LenexImportFiles(argv[3], argv[4]));
      return 0;
    }
    if (csAction == "export") {
      Varnox::Lenex::LenexExportFiles(argv[3], argv[4]);
      std::printf("Exported the meet of %s to %s\n", argv[3], argv[4]);
      return 0;
    }
  } catch (const Varnox::Lenex::LenexError& e) {
    std::fprintf(stderr, "varnox: lenex %s refused %s: %s\n", csAction.c_str(), argv[4], e.what());
    return 1;
  }
  return LenexUsage();
}
