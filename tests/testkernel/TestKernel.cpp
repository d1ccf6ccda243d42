// The recording kernel library: CreateKxComponent and an operation table per
// kernel interface. Each operation records itself and hands the call on to
// the same interface of the reference kernel, whose answer it returns; the
// reference kernel holds all data.
#include "tests/testkernel/TestKernel.h"

#include <dlfcn.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <type_traits>

#ifndef TK_REFERENCE_ROOT
#error "TK_REFERENCE_ROOT must name the reference kernel's KxOrb64 directory"
#endif

#define TK_EXPORT __attribute__((visibility("default")))

namespace {

// ---------------------------------------------------------------------------
// Interface instances.

// One handed-out interface over the reference kernel's `inner`. Every kernel
// interface is one pointer to its operation table (KX_INTERFACE); an
// instance starts with that pointer, so it is the interface the library
// holds, and the library's pointer converts back to it.
struct Inst {
  const void* ops;
  const char* name;
  int number;
  int generation;  // Reset count when created
  bool released;
  void* inner;
};
static_assert(std::is_standard_layout_v<Inst> && sizeof(IkxDtb2Obj) == sizeof(void*));

Inst* InstOf(const void* self) { return static_cast<Inst*>(const_cast<void*>(self)); }

// The reference kernel's entry point: its debug copy for this library's
// debug copy, so that the two copies keep separate states as the library
// expects.
PfCreateKxComponent Reference() {
  static const PfCreateKxComponent pfEntry = [] {
    Dl_info info{};
    dladdr(reinterpret_cast<void*>(&Reference), &info);
    const bool bDebug =
        info.dli_fname != nullptr && std::strstr(info.dli_fname, "D.dll") != nullptr;
    const std::string csPath = std::string(TK_REFERENCE_ROOT) + "Kernel/Lib/CkxCompManager" +
                               (bDebug ? "D" : "R") + ".dll";
    void* h = dlopen(csPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* p = h == nullptr ? nullptr : dlsym(h, KxNames::kEntryPoint);
    if (p == nullptr) {
      std::fprintf(stderr, "recording kernel: cannot load %s: %s\n", csPath.c_str(), dlerror());
      std::abort();
    }
    return reinterpret_cast<PfCreateKxComponent>(p);
  }();
  return pfEntry;
}

// ---------------------------------------------------------------------------
// Argument rendering.

std::string Str(const char* cs) { return cs == nullptr ? "null" : "\"" + std::string(cs) + "\""; }
std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%" PRIX32, v);
  return buf;
}

// One call record being built, with the instance it was called on (null for
// CreateKxComponent).
struct CallBuilder {
  CallBuilder(const char* csItf, const void* pSelf, const char* csOp) : self(pSelf) {
    call.itf = csItf;
    call.op = csOp;
  }
  CallBuilder& Arg(std::string s) {
    call.args.push_back(std::move(s));
    return *this;
  }
  CallBuilder& Ptr(const void* p) {
    call.ptrs.push_back(p);
    return Arg(p == nullptr ? "null" : "ptr");
  }
  TkCall call;
  const void* self;
};

// ---------------------------------------------------------------------------
// The state.

class Kernel final : public TestKernel {
 public:
  // --- control (TestKernel) ---

  void Reset() override {
    std::lock_guard lock(m_mutex);
    m_forgotten += m_calls.size();
    m_calls.clear();
    m_grants.clear();
    m_numbers.clear();
    ++m_generation;
  }

  void ClearCalls() override {
    std::lock_guard lock(m_mutex);
    m_forgotten += m_calls.size();
    m_calls.clear();
  }

  void Grant(const std::string& itf, uint32_t version) override;

  std::vector<TkCall> Calls() const override {
    std::lock_guard lock(m_mutex);
    return {m_calls.begin(), m_calls.end()};
  }

  int Live(const std::string& itf) const override {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto& inst : m_insts) {
      if (inst->generation == m_generation && !inst->released && itf == inst->name) ++count;
    }
    return count;
  }

  // --- kernel side ---

  // The version to offer the reference kernel for `csItf` in place of
  // `uiOffered`: the test's grant when lower.
  uint32_t Offer(const char* csItf, uint32_t uiOffered) const {
    std::lock_guard lock(m_mutex);
    auto grant = m_grants.find(csItf);
    return grant == m_grants.end() ? uiOffered : std::min(uiOffered, grant->second);
  }

  // Wraps the reference kernel's interface `pInner` (null: refused) named
  // `csItf` in an instance with operations `pOps`; answers the interface to
  // hand out and names it in `b`.
  void* Wrap(const char* csItf, const void* pOps, void* pInner, CallBuilder& b) {
    if (pInner == nullptr) return nullptr;
    std::lock_guard lock(m_mutex);
    m_insts.push_back(
        std::make_unique<Inst>(Inst{pOps, csItf, ++m_numbers[csItf], m_generation, false, pInner}));
    b.call.created = std::string(csItf) + "#" + std::to_string(m_insts.back()->number);
    return m_insts.back().get();
  }

  // Appends the call; answers its serial number for SetAnswer.
  uint64_t Record(CallBuilder& b, bool bRelease = false) {
    std::lock_guard lock(m_mutex);
    TkCall& call = b.call;
    if (b.self != nullptr) {
      call.instance = InstOf(b.self)->number;
      if (bRelease) InstOf(b.self)->released = true;
    }
    call.text = call.op + "(";
    for (size_t i = 0; i < call.args.size(); ++i) call.text += (i ? "," : "") + call.args[i];
    call.text += ")";
    m_calls.push_back(std::move(call));
    return m_forgotten + m_calls.size() - 1;
  }

  // Keeps the reference kernel's answer with the call `uiSerial` when it is
  // still recorded.
  void SetAnswer(uint64_t uiSerial, int64_t liAnswer) {
    std::lock_guard lock(m_mutex);
    if (uiSerial >= m_forgotten) m_calls.at(uiSerial - m_forgotten).answer = liAnswer;
  }

 private:
  mutable std::mutex m_mutex;
  std::deque<TkCall> m_calls;
  uint64_t m_forgotten = 0;  // calls recorded before m_calls: serial numbers go on
  std::map<std::string, uint32_t> m_grants;
  std::map<std::string, int> m_numbers;  // last instance number per interface
  // Instances live as long as the process: the library may hold them
  // across a Reset and release them at exit.
  std::deque<std::unique_ptr<Inst>> m_insts;
  int m_generation = 0;
};

// Never destroyed: the library's static objects may release their
// interfaces after this library's static destructors ran.
Kernel& K() {
  static Kernel* kernel = new Kernel;
  return *kernel;
}

// ---------------------------------------------------------------------------
// One recording body for every operation: each argument is rendered by its
// type (see TestKernel.h) and the objects a test may need later are kept.

void AddArg(CallBuilder& b, const char* cs) { b.Arg(Str(cs)); }
void AddArg(CallBuilder& b, bool v) { b.Arg(v ? "true" : "false"); }
template <class T>
requires std::is_integral_v<T>
void AddArg(CallBuilder& b, T v) { b.Arg(std::to_string(v)); }
void AddArg(CallBuilder& b, KxStringOut* p) { b.Arg(p == nullptr ? "null" : "out"); }
void AddArg(CallBuilder& b, const Sd2UpdateCmd* p) { b.Arg(p == nullptr ? "null" : Hex(p->bits)); }
void AddArg(CallBuilder& b, KxUpdateRecord* p) {
  b.Arg(p == nullptr
            ? "null"
            : Str(std::string(p->text, strnlen(p->text, KxUpdateRecord::kTextCapacity)).c_str()));
}
void AddArg(CallBuilder& b, const KxMessRequest* p) {
  b.Arg(p == nullptr ? "null"
                     : "{" + std::to_string(p->message) + "," + std::to_string(p->param) + "," +
                           std::to_string(p->param64) + "," + std::to_string(p->count) + "," +
                           Hex(p->flags) + "}");
  if (p != nullptr) b.call.request = *p;
}
void AddArg(CallBuilder& b, const OrbLogIndex* p) {
  b.Arg(p == nullptr ? "null" : std::to_string(p->eventType));
}
template <class T>
void AddArg(CallBuilder& b, T* p) {
  b.Ptr(p);
}

// The update id the reference kernel wrote into an update record argument.
template <class T>
int64_t UpdateIdOf(T) {
  return 0;
}
int64_t UpdateIdOf(KxUpdateRecord* p) {
  return p == nullptr ? 0 : static_cast<int64_t>(p->updateId);
}

// Records operation `Op` of interface `csItf` called on `self` and hands it
// on to the reference kernel's interface. Slot 2 of every interface
// releases it. A call on a released instance is recorded only.
template <auto Op, class Self, class... A>
typename KxSlot<Op>::Result Forward(const char* csItf, const char* csOp, Self* self, A... args) {
  using R = typename KxSlot<Op>::Result;
  constexpr uint32_t kSlot = KxSlot<Op>::number;
  CallBuilder b(csItf, self, csOp);
  (AddArg(b, args), ...);
  const bool bReleased = InstOf(self)->released;
  const uint64_t uiSerial = K().Record(b, kSlot == 2);
  auto* pInner = static_cast<Self*>(InstOf(self)->inner);
  if constexpr (std::is_void_v<R>) {
    if (bReleased) return;
    (pInner->ops->*Op)(pInner, args...);
    int64_t liId = 0;
    ((liId = liId != 0 ? liId : UpdateIdOf(args)), ...);
    if (liId != 0) K().SetAnswer(uiSerial, liId);
  } else {
    if (bReleased) return R{};
    const R result = (pInner->ops->*Op)(pInner, args...);
    K().SetAnswer(uiSerial, static_cast<int64_t>(result));
    return result;
  }
}

// Fills slot `op` of `ops` with the forwarding body.
#define TK_OP(itf, op)                     \
  ops.op = [](auto* self, auto... args) -> \
      typename KxSlot<&Ops::op>::Result { return Forward<&Ops::op>(itf, #op, self, args...); }
// TK_OP for each operation named after `itf` (at most 14: the rescans end there).
#define TK_OPS(itf, ...) TK_RESCAN(TK_OPS_EACH(itf, __VA_ARGS__))
#define TK_OPS_EACH(itf, op, ...) \
  TK_OP(itf, op);                 \
  __VA_OPT__(TK_OPS_AGAIN TK_PARENS(itf, __VA_ARGS__))
#define TK_OPS_AGAIN() TK_OPS_EACH
#define TK_PARENS ()
#define TK_RESCAN(...) TK_RESCAN3(TK_RESCAN3(TK_RESCAN3(__VA_ARGS__)))
#define TK_RESCAN3(...) TK_RESCAN1(TK_RESCAN1(TK_RESCAN1(__VA_ARGS__)))
#define TK_RESCAN1(...) __VA_ARGS__

// Hands out interface `csItf` with operations `pOps` at most at the test's
// grant: `make` asks the reference kernel at the version offered for its
// interface and answers its result. Refused (null, version 0, result 1) at
// grant 0 or when the reference kernel refuses.
template <class F>
int HandOut(const char* csItf, const void* pOps, void** ppItf, uint32_t& uiVersion, CallBuilder& b,
            F make) {
  uiVersion = K().Offer(csItf, uiVersion);
  void* pInner = nullptr;
  const int iResult = uiVersion == 0 ? 1 : make(&pInner);
  *ppItf = K().Wrap(csItf, pOps, pInner, b);
  if (*ppItf == nullptr) uiVersion = 0;
  return *ppItf == nullptr ? 1 : iResult;
}

// ---------------------------------------------------------------------------
// Operation tables.

const IkxDtb2ConnectionOps kConnectionOps = [] {
  using Ops = IkxDtb2ConnectionOps;
  Ops ops{};
  TK_OPS(KxNames::kConnection, Release, GetObjTlsIndex, ReleaseRefObject, AcceptSchema);
  return ops;
}();

const IkxTaskOnlyOps kTaskOnlyOps = [] {
  using Ops = IkxTaskOnlyOps;
  Ops ops{};
  TK_OPS(KxNames::kTaskOnly, Release, GetTaskId, RegisterCallbackSink);
  return ops;
}();

const IkxTaskOps kTaskOps = [] {
  using Ops = IkxTaskOps;
  Ops ops{};
  // Hands out the task-only interface at most at the test's grant.
  ops.CreateTaskOnly = [](IkxTask* self, int32_t iKind, IkxTaskOnly** ppItf, uint32_t* pVersion,
                          int32_t* pSlotCount) -> int32_t {
    CallBuilder b(KxNames::kTask, self, "CreateTaskOnly");
    b.Arg(std::to_string(iKind)).Arg(pVersion == nullptr ? "null" : std::to_string(*pVersion));
    int32_t iResult = 2;
    if (ppItf != nullptr && pVersion != nullptr) {
      auto* pTask = static_cast<IkxTask*>(InstOf(self)->inner);
      iResult = HandOut(KxNames::kTaskOnly, &kTaskOnlyOps, reinterpret_cast<void**>(ppItf),
                        *pVersion, b, [&](void** ppInner) {
                          return pTask->ops->CreateTaskOnly(
                              pTask, iKind, reinterpret_cast<IkxTaskOnly**>(ppInner), pVersion,
                              pSlotCount);
                        });
    }
    b.Arg(pVersion == nullptr ? "null" : std::to_string(*pVersion));
    b.Arg(pSlotCount == nullptr ? "null" : std::to_string(*pSlotCount));
    K().Record(b);
    return iResult;
  };
  TK_OPS(KxNames::kTask, Release, Trace, IsKernelRunning);
  // Keeps a copy of the log data as well.
  ops.SendLog = [](IkxTask* self, const OrbLogIndex* pHeader, const void* pData,
                   uint32_t uiLength) {
    CallBuilder b(KxNames::kTask, self, "SendLog");
    AddArg(b, pHeader);
    b.Ptr(pData).Arg(std::to_string(uiLength));
    const auto* bytes = static_cast<const uint8_t*>(pData);
    if (bytes != nullptr) b.call.logData.assign(bytes, bytes + uiLength);
    K().Record(b);
    auto* pTask = static_cast<IkxTask*>(InstOf(self)->inner);
    pTask->ops->SendLog(pTask, pHeader, pData, uiLength);
  };
  return ops;
}();

const IkxD2MessManOps kMessManOps = [] {
  using Ops = IkxD2MessManOps;
  Ops ops{};
  TK_OPS(KxNames::kMessMan, Release, Register, Dispatch, Withdraw);
  return ops;
}();

const IkxDtbAccByStrOps kAccessOps = [] {
  using Ops = IkxDtbAccByStrOps;
  Ops ops{};
  TK_OP(KxNames::kDtbAccByStr, Release);
  return ops;
}();

const IkxDtb2FileOps kFileOps = [] {
  using Ops = IkxDtb2FileOps;
  Ops ops{};
  TK_OPS(KxNames::kFile, Release, SetTemplateName, SetFileTemplateName, GetObjInd, SetObjInd, Open,
         RegisterMember, IsOpen, Clear, SelectFileDlg, Save, GetFullPath, UnLoad, Update);
  TK_OPS(KxNames::kFile, GetDynGrowStatus, GetFileIdOfMessage, GetNGELock, ReleaseNGELock,
         GetNGMLock, ReleaseNGMLock, GetObjIndByName, SaveFileAsXml, UpdateFileFromXml);
  return ops;
}();

const IkxDtb2ObjOps kObjOps = [] {
  using Ops = IkxDtb2ObjOps;
  Ops ops{};
  TK_OPS(KxNames::kObj, Release, Bind, BindMember, UpdateID, ResizeDynMember, ResizeArray,
         EmbeddedMapCmd, MapCmd, EmbeddedMapGetKey, MapGetKey);
  TK_OPS(KxNames::kObj, Clear, EmbeddedMapGetKeyNotProt, MapGetKeyNotProt, ResizeDynMemberNotProt,
         ResizeArrayNotProt, SaveAsXml, EmbeddedMapAddMany, ResizeDynMembers);
  return ops;
}();

// Every interface the kernel hands out, with its instances' operations.
struct Itf {
  const char* name;
  const void* ops;
};
const Itf kItfs[] = {{KxNames::kConnection, &kConnectionOps},
                     {KxNames::kTask, &kTaskOps},
                     {KxNames::kTaskOnly, &kTaskOnlyOps},
                     {KxNames::kMessMan, &kMessManOps},
                     {KxNames::kDtbAccByStr, &kAccessOps},
                     {KxNames::kFile, &kFileOps},
                     {KxNames::kObj, &kObjOps}};

// The entry of kItfs named `csName`, or null.
const Itf* FindItf(const char* csName) {
  for (const Itf& itf : kItfs) {
    if (csName != nullptr && std::strcmp(itf.name, csName) == 0) return &itf;
  }
  return nullptr;
}

// A grant for a name the kernel does not hand out would restrict nothing:
// refused, so that a misspelt name fails the test that gives it.
void Kernel::Grant(const std::string& itf, uint32_t version) {
  if (FindItf(itf.c_str()) == nullptr) {
    throw std::invalid_argument("TestKernel::Grant: the kernel hands out no interface named \"" +
                                itf + "\"");
  }
  std::lock_guard lock(m_mutex);
  m_grants[itf] = version;
}

}  // namespace

// Hands out `csInterface` of the reference kernel, at most at the test's
// grant, wrapped in a recording instance.
extern "C" TK_EXPORT int CreateKxComponent(const char* csComponent, const char* csInterface,
                                           const int iKind, void** ppInterface, uint32_t& uiVersion,
                                           void* pExtra) {
  CallBuilder b(csInterface == nullptr ? "(null)" : csInterface, nullptr, "CreateKxComponent");
  b.Arg(Str(csComponent))
      .Arg(Str(csInterface))
      .Arg(std::to_string(iKind))
      .Arg(std::to_string(uiVersion));
  const Itf* pItf = FindItf(csInterface);
  int iResult;
  if (pItf == nullptr || ppInterface == nullptr) {  // the reference kernel refuses these
    iResult = Reference()(csComponent, csInterface, iKind, ppInterface, uiVersion, pExtra);
  } else {
    iResult = HandOut(pItf->name, pItf->ops, ppInterface, uiVersion, b, [&](void** ppInner) {
      return Reference()(csComponent, csInterface, iKind, ppInner, uiVersion, pExtra);
    });
  }
  b.Arg(std::to_string(uiVersion)).Ptr(pExtra);
  K().Record(b);
  return iResult;
}

extern "C" TK_EXPORT TestKernel* TestKernel_Instance() { return &K(); }
