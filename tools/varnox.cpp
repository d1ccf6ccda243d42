// varnox: command-line access to the Varnox native face.
//
//   varnox negotiate   start the native face, open a kernel file object and
//                      print the interface versions the kernel granted
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <varnox/Varnox.h>

namespace {

// Points KxOrb64 at the component manager this tool was built with, unless
// the environment names one. The library itself never guesses.
void UseBuiltKernelByDefault() {
  const char* csRoot = std::getenv("KxOrb64");
  if (csRoot == nullptr || csRoot[0] == '\0') setenv("KxOrb64", VARNOX_DEFAULT_ORB_ROOT, 1);
}

template <class Itf>
void PrintInterface(const char* csName, uint32_t uiOffered, const KxItf<Itf>& itf) {
  std::printf("  %-18s offered %2u  granted %2u%s\n", csName, uiOffered, itf.version,
              itf.Has() ? "" : "  (refused)");
}

// A member object as a file template declares it: it records what the
// kernel attaches to it.
class ProbeMember : public CkxDtb2Obj {
 public:
  void OnAttach(const KxAttachInfo* pInfo) override {
    m_ppStorageBase = pInfo->ppStorageBase;
    m_pLastValidHandle = pInfo->pLastValidHandle;
  }
};

int Negotiate() {
  KxInitCatAssembly(false);
  std::printf("Component manager: %sKernel/Lib/CkxCompManagerR.dll\n", std::getenv("KxOrb64"));
  std::printf("Interfaces:\n");
  PrintInterface("CkxTask", 32, pTasks->m_Task);
  PrintInterface("CkxTaskOnly", 7, pTasks->m_TaskOnly);
  PrintInterface("CkxDtb2Connection", 35, pDtb2->m_Connection);
  PrintInterface("CkxD2MessMan", 10, pMessMan->m_MessMan);
  PrintInterface("CkxDtbAccByStr", 4, pDtbAac->m_Access);
  std::printf("Task id: %lld\n", static_cast<long long>(pTasks->TaskId()));
  std::printf("Thread-local slot of the current kernel object: 0x%X\n", dwIObjTlsInd);

  {
    CkxDtb2File file;
    ProbeMember member;
    PrintInterface("CkxDtb2File", CkxDtb2File::kOffered, file.m_File);
    PrintInterface("CkxDtb2Obj", CkxDtb2Obj::kOffered, member.m_Obj);
    file.NameTemplate("Varnox", "FT_COMPETITORS");
    file.RegisterMember(member, 26647348);
    std::printf("File open: %s\n", file.IsOpen() ? "yes" : "no");
    std::printf("Update id: %llu\n",
                static_cast<unsigned long long>(member.UpdateID(0, nullptr, "varnox negotiate")));
    std::printf("Dynamic growth status: %d\n", file.GetDynGrowStatus());
  }
  KxEndCatAssembly();
  return 0;
}

int Usage() {
  std::fprintf(stderr, "usage: varnox negotiate\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  UseBuiltKernelByDefault();
  if (std::strcmp(argv[1], "negotiate") == 0) return Negotiate();
  return Usage();
}
