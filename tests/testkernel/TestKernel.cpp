// The test kernel library: CreateKxComponent and the operation tables of
// every kernel interface. Each operation records itself and returns the
// answer the test chose; nothing is stored.
#include "tests/testkernel/TestKernel.h"

#include <dlfcn.h>

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <type_traits>
#include <utility>

#define TK_EXPORT __attribute__((visibility("default")))

namespace {

// ---------------------------------------------------------------------------
// Interface instances.

struct ItfDesc {
  const char* name;
  const char* component;
};

// Every interface the kernel hands out, with its component.
constexpr std::array<ItfDesc, 7> kItfs = {{
    {KxNames::kConnection, KxNames::kDtb2},
    {KxNames::kTask, KxNames::kBase},
    {KxNames::kTaskOnly, KxNames::kBase},
    {KxNames::kMessMan, KxNames::kBase},
    {KxNames::kDtbAccByStr, KxNames::kBase},
    {KxNames::kFile, KxNames::kDtb2},
    {KxNames::kObj, KxNames::kDtb2},
}};

const ItfDesc* FindItf(const char* csName) {
  if (csName == nullptr) return nullptr;
  for (const ItfDesc& desc : kItfs) {
    if (std::strcmp(desc.name, csName) == 0) return &desc;
  }
  return nullptr;
}

// One handed-out interface. The interface object is the first member, so
// the pointer the library holds converts back to the instance.
struct Inst {
  union {
    IkxDtb2Connection connection;
    IkxTask task;
    IkxTaskOnly taskOnly;
    IkxD2MessMan messMan;
    IkxDtbAccByStr access;
    IkxDtb2File file;
    IkxDtb2Obj obj;
  } itf;
  const char* name;
  int number;
  int generation;  // Reset count when created
  bool released;
  int32_t openFileId;  // last answer of Open
};
static_assert(std::is_standard_layout_v<Inst>);

Inst* InstOf(const void* self) { return static_cast<Inst*>(const_cast<void*>(self)); }

// Operation tables, defined after the operations.
extern const IkxDtb2ConnectionOps kConnectionOps;
extern const IkxTaskOps kTaskOps;
extern const IkxTaskOnlyOps kTaskOnlyOps;
extern const IkxD2MessManOps kMessManOps;
extern const IkxDtbAccByStrOps kAccessOps;
extern const IkxDtb2FileOps kFileOps;
extern const IkxDtb2ObjOps kObjOps;

void SetOps(Inst& inst, const ItfDesc& desc) {
  const std::string name = desc.name;
  if (name == KxNames::kConnection) inst.itf.connection.ops = &kConnectionOps;
  if (name == KxNames::kTask) inst.itf.task.ops = &kTaskOps;
  if (name == KxNames::kTaskOnly) inst.itf.taskOnly.ops = &kTaskOnlyOps;
  if (name == KxNames::kMessMan) inst.itf.messMan.ops = &kMessManOps;
  if (name == KxNames::kDtbAccByStr) inst.itf.access.ops = &kAccessOps;
  if (name == KxNames::kFile) inst.itf.file.ops = &kFileOps;
  if (name == KxNames::kObj) inst.itf.obj.ops = &kObjOps;
}

// ---------------------------------------------------------------------------
// Argument rendering.

std::string Str(const char* cs) { return cs == nullptr ? "null" : "\"" + std::string(cs) + "\""; }
std::string Int(int64_t v) { return std::to_string(v); }
std::string Uns(uint64_t v) { return std::to_string(v); }
std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%" PRIX32, v);
  return buf;
}
std::string Out(const KxStringOut* p) { return p == nullptr ? "null" : "out"; }
std::string Cmd(const Sd2UpdateCmd* p) { return p == nullptr ? "null" : Hex(p->bits); }
std::string RecordText(const KxUpdateRecord* p) {
  if (p == nullptr) return "null";
  return "\"" + std::string(p->text, strnlen(p->text, KxUpdateRecord::kTextCapacity)) + "\"";
}
std::string Request(const KxMessRequest* p) {
  if (p == nullptr) return "null";
  return "{" + Uns(p->message) + "," + Int(p->param) + "," + Int(p->param64) + "," + Int(p->count) +
         "," + Hex(p->flags) + "}";
}

// Builds one call record.
class CallBuilder {
 public:
  CallBuilder(const char* csItf, const void* self, int iSlot, const char* csOp) : m_self(self) {
    m_call.itf = csItf;
    m_call.slot = iSlot;
    m_call.op = csOp;
  }
  CallBuilder& Arg(std::string s) {
    m_call.args.push_back(std::move(s));
    return *this;
  }
  CallBuilder& Ptr(const void* p) {
    m_call.ptrs.push_back(p);
    return Arg(p == nullptr ? "null" : "ptr");
  }
  TkCall& call() { return m_call; }
  const void* self() const { return m_self; }

 private:
  TkCall m_call;
  const void* m_self;
};

// ---------------------------------------------------------------------------
// The state.

class Kernel final : public TestKernel {
 public:
  // --- control (TestKernel) ---

  void Reset() override {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
    m_grants.clear();
    for (auto& answer : m_answers) answer = Answer{};
    m_numbers.clear();
    m_nextBindId = 1;
    m_nextUpdateId = 1;
    m_fullPath.clear();
    m_selPath.clear();
    m_selFileSet.clear();
    m_nodeKey = 0;
    m_nodeStrKey.clear();
    m_messRecords.clear();
    ++m_generation;
  }

  void ClearCalls() override {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
  }

  void Grant(const std::string& itf, uint32_t version) override {
    CheckName(itf, "Grant");
    std::lock_guard lock(m_mutex);
    m_grants[itf] = version;
  }

  void GrantOffered(const std::string& itf) override {
    CheckName(itf, "GrantOffered");
    std::lock_guard lock(m_mutex);
    m_grants.erase(itf);
  }

  void SetAnswer(TkAnswer what, int64_t value) override {
    const size_t i = CheckAnswer(what, "SetAnswer");
    std::lock_guard lock(m_mutex);
    m_answers[i].standing = value;
  }

  void QueueAnswer(TkAnswer what, int64_t value) override {
    const size_t i = CheckAnswer(what, "QueueAnswer");
    std::lock_guard lock(m_mutex);
    m_answers[i].queued.push_back(value);
  }

  void SetFullPath(const std::string& csPath) override {
    std::lock_guard lock(m_mutex);
    m_fullPath = csPath;
  }

  void SetSelectedFile(const std::string& csPath, const std::string& csFileSet) override {
    std::lock_guard lock(m_mutex);
    m_selPath = csPath;
    m_selFileSet = csFileSet;
  }

  void SetNodeKey(uint64_t uiKey, const std::string& csKey) override {
    std::lock_guard lock(m_mutex);
    m_nodeKey = uiKey;
    m_nodeStrKey = csKey;
  }

  std::vector<TkCall> Calls() const override {
    std::lock_guard lock(m_mutex);
    return m_calls;
  }

  int Handed(const std::string& itf) const override {
    std::lock_guard lock(m_mutex);
    auto it = m_numbers.find(itf);
    return it == m_numbers.end() ? 0 : it->second;
  }

  int Live(const std::string& itf) const override {
    std::lock_guard lock(m_mutex);
    int count = 0;
    for (const auto& inst : m_insts) {
      if (inst->generation == m_generation && !inst->released && itf == inst->name) ++count;
    }
    return count;
  }

  CkxMessageInfo* MessageRecord(const std::string& csName) const override {
    std::lock_guard lock(m_mutex);
    auto it = m_messRecords.find(csName);
    return it == m_messRecords.end() ? nullptr : it->second;
  }

  std::string LibraryPath() const override {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&TestKernel_Instance), &info) == 0 ||
        info.dli_fname == nullptr) {
      return "";
    }
    return info.dli_fname;
  }

  // --- kernel side ---

  // Hands out interface `csInterface` of `csComponent` (CreateKxComponent).
  int Create(const char* csComponent, const char* csInterface, int iKind, void** ppInterface,
             uint32_t& uiVersion, void* pExtra) {
    CallBuilder b(csInterface == nullptr ? "(null)" : csInterface, nullptr, kTkCreateSlot,
                  "CreateKxComponent");
    b.Arg(Str(csComponent)).Arg(Str(csInterface)).Arg(Int(iKind)).Arg(Uns(uiVersion));
    const ItfDesc* desc = FindItf(csInterface);
    if (desc != nullptr && (csComponent == nullptr || std::strcmp(desc->component, csComponent))) {
      desc = nullptr;  // known interface asked of the wrong component
    }
    std::lock_guard lock(m_mutex);
    Inst* inst = nullptr;
    if (ppInterface != nullptr) {
      inst = NewInstance(desc, uiVersion);
      *ppInterface = inst == nullptr ? nullptr : &inst->itf;
    }
    uiVersion = inst == nullptr ? 0 : uiVersion;
    b.Arg(Uns(uiVersion)).Ptr(pExtra);
    if (inst != nullptr) b.call().created = Name(*inst);
    Push(b);
    if (ppInterface == nullptr) return 2;
    return inst == nullptr ? 1 : 0;
  }

  // CkxTask slot 0: hands out a task-only interface.
  int32_t CreateTaskOnly(IkxTask* self, int32_t iKind, IkxTaskOnly** ppItf, uint32_t* pVersion,
                         int32_t* pSlotCount) {
    CallBuilder b(KxNames::kTask, self, 0, "CreateTaskOnly");
    b.Arg(Int(iKind)).Arg(pVersion == nullptr ? "null" : Uns(*pVersion));
    std::lock_guard lock(m_mutex);
    Inst* inst = nullptr;
    if (ppItf != nullptr && pVersion != nullptr) {
      inst = NewInstance(FindItf(KxNames::kTaskOnly), *pVersion);
      *ppItf = inst == nullptr ? nullptr : &inst->itf.taskOnly;
      if (inst == nullptr) *pVersion = 0;
    }
    b.Arg(pVersion == nullptr ? "null" : Uns(*pVersion));
    b.Arg(pSlotCount == nullptr ? "null" : Int(*pSlotCount));
    if (inst != nullptr) b.call().created = Name(*inst);
    Push(b);
    if (ppItf == nullptr || pVersion == nullptr) return 2;
    return inst == nullptr ? 1 : 0;
  }

  // Records a call; returns the answer `what` when given, else 0.
  int64_t Record(CallBuilder& b, std::optional<TkAnswer> what = std::nullopt) {
    std::lock_guard lock(m_mutex);
    Push(b);
    return what ? TakeAnswer(*what, b.self()) : 0;
  }

  // Records a release and marks the instance released.
  void RecordRelease(CallBuilder& b) {
    std::lock_guard lock(m_mutex);
    Push(b);
    if (b.self() != nullptr) InstOf(b.self())->released = true;
  }

  // Keeps a message record registered under `csName` for MessageRecord.
  void RememberRecord(const char* csName, CkxMessageInfo* pRecord) {
    std::lock_guard lock(m_mutex);
    if (csName != nullptr) m_messRecords[csName] = pRecord;
  }

  std::string FullPath() const {
    std::lock_guard lock(m_mutex);
    return m_fullPath;
  }
  std::pair<std::string, std::string> SelectedFile() const {
    std::lock_guard lock(m_mutex);
    return {m_selPath, m_selFileSet};
  }
  std::pair<uint64_t, std::string> NodeKey() const {
    std::lock_guard lock(m_mutex);
    return {m_nodeKey, m_nodeStrKey};
  }

 private:
  struct Answer {
    std::optional<int64_t> standing;
    std::deque<int64_t> queued;
  };

  static void CheckName(const std::string& itf, const char* csWho) {
    if (FindItf(itf.c_str()) == nullptr) {
      throw std::invalid_argument(std::string("TestKernel::") + csWho +
                                  ": the kernel hands out no interface named \"" + itf + "\"");
    }
  }

  static size_t CheckAnswer(TkAnswer what, const char* csWho) {
    const auto i = static_cast<size_t>(what);
    if (static_cast<int>(what) < 0 || what >= TkAnswer::kCount) {
      throw std::invalid_argument(std::string("TestKernel::") + csWho + ": no answer number " +
                                  std::to_string(static_cast<int>(what)));
    }
    return i;
  }

  static std::string Name(const Inst& inst) {
    return std::string(inst.name) + "#" + std::to_string(inst.number);
  }

  // A new instance of `desc` granting what the test chose, or null when
  // refused. Caller holds the lock; `uiOffered` becomes the granted version.
  Inst* NewInstance(const ItfDesc* desc, uint32_t& uiOffered) {
    if (desc == nullptr) return nullptr;
    auto grant = m_grants.find(desc->name);
    const uint32_t granted = grant == m_grants.end() ? uiOffered : grant->second;
    if (granted == 0) return nullptr;
    auto inst = std::make_unique<Inst>();
    SetOps(*inst, *desc);
    inst->name = desc->name;
    inst->number = ++m_numbers[desc->name];
    inst->generation = m_generation;
    inst->released = false;
    inst->openFileId = 0;
    m_insts.push_back(std::move(inst));
    uiOffered = granted;
    return m_insts.back().get();
  }

  // Appends the call; caller holds the lock.
  void Push(CallBuilder& b) {
    TkCall& call = b.call();
    if (b.self() != nullptr) {
      const Inst* inst = InstOf(b.self());
      call.instance = inst->number;
      call.afterRelease = inst->released;
    }
    call.text = call.op + "(";
    for (size_t i = 0; i < call.args.size(); ++i) call.text += (i ? "," : "") + call.args[i];
    call.text += ")";
    m_calls.push_back(std::move(call));
  }

  // The answer to give now; caller holds the lock.
  int64_t TakeAnswer(TkAnswer what, const void* self) {
    Answer& answer = m_answers[static_cast<size_t>(what)];
    int64_t value = 0;
    if (!answer.queued.empty()) {
      value = answer.queued.front();
      answer.queued.pop_front();
    } else if (answer.standing) {
      value = *answer.standing;
    } else {
      value = Default(what, self);
    }
    if (what == TkAnswer::BindId && value >= m_nextBindId) m_nextBindId = value + 1;
    if (what == TkAnswer::OpenFileId && self != nullptr) {
      InstOf(self)->openFileId = static_cast<int32_t>(value);
    }
    return value;
  }

  // The answer without a queued or standing one (see TkAnswer).
  int64_t Default(TkAnswer what, const void* self) {
    if (what == TkAnswer::BindId) return m_nextBindId++;
    if (what == TkAnswer::UpdateId) return m_nextUpdateId++;
    if (what == TkAnswer::FileIdOfMessage) return self == nullptr ? 0 : InstOf(self)->openFileId;
    if (what == TkAnswer::TaskId) return 7001;
    if (what == TkAnswer::TlsIndex) return 3;
    constexpr TkAnswer kZero[] = {TkAnswer::DynGrowStatus, TkAnswer::MapCmd,
                                  TkAnswer::EmbeddedMapCmd, TkAnswer::MessRegister,
                                  TkAnswer::KernelSchema};
    return std::find(std::begin(kZero), std::end(kZero), what) == std::end(kZero) ? 1 : 0;
  }

  mutable std::mutex m_mutex;
  std::vector<TkCall> m_calls;
  std::map<std::string, uint32_t> m_grants;
  std::array<Answer, static_cast<size_t>(TkAnswer::kCount)> m_answers;
  std::map<std::string, int> m_numbers;  // last instance number per interface
  // Instances live as long as the process: the library may hold them
  // across a Reset and release them at exit.
  std::deque<std::unique_ptr<Inst>> m_insts;
  int m_generation = 0;
  int64_t m_nextBindId = 1;
  int64_t m_nextUpdateId = 1;
  std::string m_fullPath;
  std::string m_selPath;
  std::string m_selFileSet;
  uint64_t m_nodeKey = 0;
  std::string m_nodeStrKey;
  std::map<std::string, CkxMessageInfo*> m_messRecords;
};

// Never destroyed: the library's static objects may release their
// interfaces after this library's static destructors ran.
Kernel& K() {
  static Kernel* kernel = new Kernel;
  return *kernel;
}

void Assign(KxStringOut* pOut, const std::string& cs) {
  if (pOut != nullptr && pOut->assign != nullptr) pOut->Assign(cs.c_str(), cs.size());
}

// ---------------------------------------------------------------------------
// One recording body for every operation: each argument is rendered by its
// type (see TestKernel.h) and the objects a test may need later are kept.

void AddArg(CallBuilder& b, const char* cs) { b.Arg(Str(cs)); }
void AddArg(CallBuilder& b, bool v) { b.Arg(Bool(v)); }
template <class T>
  requires std::is_integral_v<T>
void AddArg(CallBuilder& b, T v) {
  b.Arg(std::is_signed_v<T> ? Int(static_cast<int64_t>(v)) : Uns(static_cast<uint64_t>(v)));
}
void AddArg(CallBuilder& b, KxStringOut* p) { b.Arg(Out(p)); }
void AddArg(CallBuilder& b, const Sd2UpdateCmd* p) { b.Arg(Cmd(p)); }
void AddArg(CallBuilder& b, KxUpdateRecord* p) {
  b.Arg(RecordText(p));
  if (p != nullptr) b.call().update = *p;
}
void AddArg(CallBuilder& b, const KxMessRequest* p) {
  b.Arg(Request(p));
  if (p != nullptr) b.call().request = *p;
}
void AddArg(CallBuilder& b, const OrbLogIndex* p) {
  b.Arg(p == nullptr ? "null" : Uns(p->eventType));
  if (p != nullptr) b.call().logHeader = *p;
}
void AddArg(CallBuilder& b, CkxDtb2ObjCallback* p) {
  b.Ptr(p);
  b.call().boundObject = p;
}
void AddArg(CallBuilder& b, CkxMessageInfo* p) {
  b.Ptr(p);
  b.call().messRecord = p;
}
void AddArg(CallBuilder& b, CkxTaskCallback* p) {
  b.Ptr(p);
  b.call().callbackSink = p;
}
template <class T>
void AddArg(CallBuilder& b, T* p) {
  b.Ptr(p);
}

// Records operation `csOp` (slot `iSlot` of interface `csItf`) and returns
// the answer `what`, or 0 without one. With `kFlags` the first argument is a
// flag word, shown in hex. Slot 2 of every interface releases it.
template <bool kFlags = false, class Self, class First, class... A>
int64_t Record(const char* csItf, Self* self, int iSlot, const char* csOp,
               std::optional<TkAnswer> what, First first, A... args) {
  CallBuilder b(csItf, self, iSlot, csOp);
  if constexpr (kFlags) {
    b.Arg(Hex(first));
  } else {
    AddArg(b, first);
  }
  (AddArg(b, args), ...);
  if (iSlot == 2) {
    K().RecordRelease(b);
    return 0;
  }
  return K().Record(b, what);
}

template <bool kFlags = false, class Self>
int64_t Record(const char* csItf, Self* self, int iSlot, const char* csOp,
               std::optional<TkAnswer> what) {
  CallBuilder b(csItf, self, iSlot, csOp);
  if (iSlot == 2) {
    K().RecordRelease(b);
    return 0;
  }
  return K().Record(b, what);
}

// An answer converted to the operation's result.
template <class R>
R As(int64_t v) {
  if constexpr (std::is_same_v<R, bool>) return v != 0;
  else if constexpr (!std::is_void_v<R>) return static_cast<R>(v);
}

// Fills slot `op` of `ops` with the recording body: the operation records its
// call and answers `what` (std::nullopt: nothing to answer).
#define TK_OP(itf, op, what) TK_OP_FLAGS(itf, op, what, false)
#define TK_OP_FLAGS(itf, op, what, flags)                                               \
  ops.op = [](auto* self, auto... args) -> typename KxSlot<&Ops::op>::Result {          \
    return As<typename KxSlot<&Ops::op>::Result>(                                       \
        Record<flags>(itf, self, KxSlot<&Ops::op>::number, #op, what, args...));        \
  }

constexpr std::nullopt_t kNone = std::nullopt;

// The four key operations: record, then hand out the key the test chose.
template <auto Op>
void GetKey(IkxDtb2Obj* self, const char* csOp, uint32_t uiHandle, uint64_t* pKey,
            KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader) {
  Record(KxNames::kObj, self, KxSlot<Op>::number, csOp, kNone, uiHandle, pKey, pStrKey,
         bFlag, pHeader);
  const auto [uiKey, csKey] = K().NodeKey();
  if (pKey != nullptr) *pKey = uiKey;
  Assign(pStrKey, csKey);
}
#define TK_KEY_OP(op)                                                                      \
  ops.op = [](IkxDtb2Obj* self, uint32_t h, uint64_t* k, KxStringOut* s, bool f,           \
              KxContainerHeader* p) { GetKey<&Ops::op>(self, #op, h, k, s, f, p); }

// ---------------------------------------------------------------------------
// Operation tables; slots not set are unused and stay null.

const IkxDtb2ConnectionOps kConnectionOps = [] {
  using Ops = IkxDtb2ConnectionOps;
  Ops ops{};
  TK_OP(KxNames::kConnection, Release, kNone);
  TK_OP(KxNames::kConnection, GetObjTlsIndex, TkAnswer::TlsIndex);
  TK_OP(KxNames::kConnection, ReleaseRefObject, kNone);
  // Accepted unless the test set another kernel fingerprint.
  ops.AcceptSchema = [](IkxDtb2Connection* self, uint64_t uiLibrary, uint64_t* pKernel) {
    const auto uiAnswer = static_cast<uint64_t>(Record(KxNames::kConnection, self, 22, "AcceptSchema",
                                                       TkAnswer::KernelSchema, uiLibrary, pKernel));
    const uint64_t uiKernel = uiAnswer == 0 ? uiLibrary : uiAnswer;
    if (pKernel != nullptr) *pKernel = uiKernel;
    return uiKernel == uiLibrary;
  };
  return ops;
}();

const IkxTaskOps kTaskOps = [] {
  using Ops = IkxTaskOps;
  Ops ops{};
  ops.CreateTaskOnly = [](IkxTask* self, int32_t iKind, IkxTaskOnly** ppItf, uint32_t* pVersion,
                          int32_t* pSlotCount) {
    return K().CreateTaskOnly(self, iKind, ppItf, pVersion, pSlotCount);
  };
  TK_OP(KxNames::kTask, Release, kNone);
  TK_OP(KxNames::kTask, Trace, kNone);
  TK_OP(KxNames::kTask, IsKernelRunning, TkAnswer::KernelRunning);
  // Keeps a copy of the log data as well.
  ops.SendLog = [](IkxTask* self, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength) {
    CallBuilder b(KxNames::kTask, self, 70, "SendLog");
    AddArg(b, pHeader);
    b.Ptr(pData).Arg(Uns(uiLength));
    const auto* bytes = static_cast<const uint8_t*>(pData);
    if (bytes != nullptr) b.call().logData.assign(bytes, bytes + uiLength);
    K().Record(b);
  };
  return ops;
}();

const IkxTaskOnlyOps kTaskOnlyOps = [] {
  using Ops = IkxTaskOnlyOps;
  Ops ops{};
  TK_OP(KxNames::kTaskOnly, Release, kNone);
  TK_OP(KxNames::kTaskOnly, GetTaskId, TkAnswer::TaskId);
  TK_OP(KxNames::kTaskOnly, RegisterCallbackSink, kNone);
  return ops;
}();

const IkxD2MessManOps kMessManOps = [] {
  using Ops = IkxD2MessManOps;
  Ops ops{};
  TK_OP(KxNames::kMessMan, Release, kNone);
  TK_OP(KxNames::kMessMan, Dispatch, TkAnswer::Dispatch);
  TK_OP(KxNames::kMessMan, Withdraw, TkAnswer::Withdraw);
  // Remembers the record under its name for MessageRecord.
  ops.Register = [](IkxD2MessMan* self, const char* csName, CkxMessageInfo* pRecord) {
    K().RememberRecord(csName, pRecord);
    return static_cast<int32_t>(Record(KxNames::kMessMan, self, 5, "Register",
                                       TkAnswer::MessRegister, csName, pRecord));
  };
  return ops;
}();

const IkxDtbAccByStrOps kAccessOps = [] {
  using Ops = IkxDtbAccByStrOps;
  Ops ops{};
  TK_OP(KxNames::kDtbAccByStr, Release, kNone);
  return ops;
}();

const IkxDtb2FileOps kFileOps = [] {
  using Ops = IkxDtb2FileOps;
  Ops ops{};
  TK_OP(KxNames::kFile, Release, kNone);
  TK_OP(KxNames::kFile, SetTemplateName, kNone);
  TK_OP(KxNames::kFile, SetFileTemplateName, kNone);
  TK_OP(KxNames::kFile, GetObjInd, kNone);
  TK_OP(KxNames::kFile, SetObjInd, kNone);
  TK_OP(KxNames::kFile, Open, TkAnswer::OpenFileId);
  TK_OP(KxNames::kFile, RegisterMember, kNone);
  TK_OP(KxNames::kFile, IsOpen, TkAnswer::IsOpen);
  TK_OP_FLAGS(KxNames::kFile, Clear, kNone, true);
  // Hands out the selected path and file set when it answers true.
  ops.SelectFileDlg = [](IkxDtb2File* self, const char* csAlias1, const char* csRootPath,
                         const char* csPathIn, KxStringOut* pPathSel, const char* csFileSetIn,
                         KxStringOut* pFileSetSel, bool bUsePath, bool bEnableScanDisk) {
    const bool ok = Record(KxNames::kFile, self, 13, "SelectFileDlg", TkAnswer::SelectFileDlg,
                           csAlias1, csRootPath, csPathIn, pPathSel, csFileSetIn, pFileSetSel,
                           bUsePath, bEnableScanDisk) != 0;
    if (ok) {
      const auto [csPath, csFileSet] = K().SelectedFile();
      Assign(pPathSel, csPath);
      Assign(pFileSetSel, csFileSet);
    }
    return ok;
  };
  TK_OP(KxNames::kFile, Save, TkAnswer::Save);
  // Hands out the full path when it answers true.
  ops.GetFullPath = [](IkxDtb2File* self, KxStringOut* pPath) {
    const bool ok =
        Record(KxNames::kFile, self, 18, "GetFullPath", TkAnswer::GetFullPath, pPath) != 0;
    if (ok) Assign(pPath, K().FullPath());
    return ok;
  };
  TK_OP(KxNames::kFile, UnLoad, TkAnswer::UnLoad);
  TK_OP_FLAGS(KxNames::kFile, Update, kNone, true);
  TK_OP(KxNames::kFile, GetDynGrowStatus, TkAnswer::DynGrowStatus);
  TK_OP(KxNames::kFile, GetFileIdOfMessage, TkAnswer::FileIdOfMessage);
  TK_OP(KxNames::kFile, GetNGELock, kNone);
  TK_OP(KxNames::kFile, ReleaseNGELock, kNone);
  TK_OP(KxNames::kFile, GetNGMLock, kNone);
  TK_OP(KxNames::kFile, ReleaseNGMLock, kNone);
  TK_OP(KxNames::kFile, GetObjIndByName, kNone);
  TK_OP(KxNames::kFile, SaveFileAsXml, TkAnswer::SaveFileAsXml);
  TK_OP(KxNames::kFile, UpdateFileFromXml, TkAnswer::UpdateFileFromXml);
  return ops;
}();

const IkxDtb2ObjOps kObjOps = [] {
  using Ops = IkxDtb2ObjOps;
  Ops ops{};
  TK_OP(KxNames::kObj, Release, kNone);
  TK_OP(KxNames::kObj, Bind, TkAnswer::BindId);
  TK_OP(KxNames::kObj, BindMember, TkAnswer::BindId);
  // Writes the answered update id into the record.
  ops.UpdateID = [](IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                    KxUpdateRecord* pRecord) {
    const auto id = static_cast<uint64_t>(Record<true>(KxNames::kObj, self, 5, "UpdateID",
                                                 TkAnswer::UpdateId, uiFlags, pCmd, pRecord));
    if (pRecord != nullptr) pRecord->updateId = id;
  };
  TK_OP(KxNames::kObj, ResizeDynMember, kNone);
  TK_OP(KxNames::kObj, ResizeArray, kNone);
  TK_OP(KxNames::kObj, EmbeddedMapCmd, TkAnswer::EmbeddedMapCmd);
  TK_OP(KxNames::kObj, MapCmd, TkAnswer::MapCmd);
  TK_KEY_OP(EmbeddedMapGetKey);
  TK_KEY_OP(MapGetKey);
  TK_OP_FLAGS(KxNames::kObj, Clear, kNone, true);
  TK_KEY_OP(EmbeddedMapGetKeyNotProt);
  TK_KEY_OP(MapGetKeyNotProt);
  TK_OP(KxNames::kObj, ResizeDynMemberNotProt, kNone);
  TK_OP(KxNames::kObj, ResizeArrayNotProt, kNone);
  TK_OP(KxNames::kObj, SaveAsXml, kNone);
  return ops;
}();

}  // namespace

// ---------------------------------------------------------------------------
// Exported entry points.

extern "C" TK_EXPORT int CreateKxComponent(const char* csComponent, const char* csInterface,
                                           const int iKind, void** ppInterface, uint32_t& uiVersion,
                                           void* pExtra) {
  return K().Create(csComponent, csInterface, iKind, ppInterface, uiVersion, pExtra);
}

extern "C" TK_EXPORT TestKernel* TestKernel_Instance() { return &K(); }
