// The test kernel library: CreateKxComponent and the operation tables of
// every kernel interface. Each operation records itself and returns the
// answer the test chose; nothing is stored.
#include "tests/testkernel/TestKernel.h"

#include <dlfcn.h>

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

  // Records the registration of a message record.
  int32_t RecordRegister(CallBuilder& b, const char* csName, CkxMessageInfo* pRecord) {
    std::lock_guard lock(m_mutex);
    if (csName != nullptr) m_messRecords[csName] = pRecord;
    Push(b);
    return static_cast<int32_t>(TakeAnswer(TkAnswer::MessRegister, b.self()));
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

  int64_t Default(TkAnswer what, const void* self) {
    switch (what) {
      case TkAnswer::TaskId:
        return 7001;
      case TkAnswer::TlsIndex:
        return 3;
      case TkAnswer::BindId:
        return m_nextBindId++;
      case TkAnswer::UpdateId:
        return m_nextUpdateId++;
      case TkAnswer::OpenFileId:
        return 1;
      case TkAnswer::FileIdOfMessage:
        return self == nullptr ? 0 : InstOf(self)->openFileId;
      case TkAnswer::DynGrowStatus:
      case TkAnswer::MapCmd:
      case TkAnswer::EmbeddedMapCmd:
      case TkAnswer::MessRegister:
      case TkAnswer::KernelSchema:
      case TkAnswer::kCount:
        return 0;
      case TkAnswer::IsOpen:
      case TkAnswer::SelectFileDlg:
      case TkAnswer::Save:
      case TkAnswer::GetFullPath:
      case TkAnswer::UnLoad:
      case TkAnswer::SaveFileAsXml:
      case TkAnswer::UpdateFileFromXml:
      case TkAnswer::KernelRunning:
      case TkAnswer::Dispatch:
      case TkAnswer::Withdraw:
        return 1;
    }
    return 0;
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

bool Yes(int64_t v) { return v != 0; }

// ---------------------------------------------------------------------------
// "CkxDtb2Connection"

void ConnRelease(IkxDtb2Connection* self) {
  CallBuilder b(KxNames::kConnection, self, 2, "Release");
  K().RecordRelease(b);
}
uint32_t ConnGetObjTlsIndex(IkxDtb2Connection* self) {
  CallBuilder b(KxNames::kConnection, self, 16, "GetObjTlsIndex");
  return static_cast<uint32_t>(K().Record(b, TkAnswer::TlsIndex));
}
void ConnReleaseRefObject(IkxDtb2Connection* self, void* pObject) {
  CallBuilder b(KxNames::kConnection, self, 21, "ReleaseRefObject");
  b.Ptr(pObject);
  K().Record(b);
}
bool ConnAcceptSchema(IkxDtb2Connection* self, uint64_t uiLibrary, uint64_t* pKernel) {
  CallBuilder b(KxNames::kConnection, self, 22, "AcceptSchema");
  b.Arg(Uns(uiLibrary)).Ptr(pKernel);
  const uint64_t uiAnswer = static_cast<uint64_t>(K().Record(b, TkAnswer::KernelSchema));
  const uint64_t uiKernel = uiAnswer == 0 ? uiLibrary : uiAnswer;
  if (pKernel != nullptr) *pKernel = uiKernel;
  return uiKernel == uiLibrary;
}

// ---------------------------------------------------------------------------
// "CkxTask"

int32_t TaskCreateTaskOnly(IkxTask* self, int32_t iKind, IkxTaskOnly** ppItf, uint32_t* pVersion,
                           int32_t* pSlotCount) {
  return K().CreateTaskOnly(self, iKind, ppItf, pVersion, pSlotCount);
}
void TaskRelease(IkxTask* self) {
  CallBuilder b(KxNames::kTask, self, 2, "Release");
  K().RecordRelease(b);
}
void TaskTrace(IkxTask* self, int32_t iCategory, const char* csFile, int32_t iLine,
               const char* csMessage, const char* cs1, const char* cs2, const char* cs3) {
  CallBuilder b(KxNames::kTask, self, 16, "Trace");
  b.Arg(Int(iCategory)).Arg(Str(csFile)).Arg(Int(iLine)).Arg(Str(csMessage));
  b.Arg(Str(cs1)).Arg(Str(cs2)).Arg(Str(cs3));
  K().Record(b);
}
bool TaskIsKernelRunning(IkxTask* self) {
  CallBuilder b(KxNames::kTask, self, 33, "IsKernelRunning");
  return Yes(K().Record(b, TkAnswer::KernelRunning));
}
void TaskSendLog(IkxTask* self, const OrbLogIndex* pHeader, const void* pData, uint32_t uiLength) {
  CallBuilder b(KxNames::kTask, self, 70, "SendLog");
  b.Arg(pHeader == nullptr ? "null" : Uns(pHeader->eventType)).Ptr(pData).Arg(Uns(uiLength));
  if (pHeader != nullptr) b.call().logHeader = *pHeader;
  if (pData != nullptr) {
    const auto* bytes = static_cast<const uint8_t*>(pData);
    b.call().logData.assign(bytes, bytes + uiLength);
  }
  K().Record(b);
}

// ---------------------------------------------------------------------------
// "CkxTaskOnly"

void TaskOnlyRelease(IkxTaskOnly* self) {
  CallBuilder b(KxNames::kTaskOnly, self, 2, "Release");
  K().RecordRelease(b);
}
int64_t TaskOnlyGetTaskId(IkxTaskOnly* self) {
  CallBuilder b(KxNames::kTaskOnly, self, 11, "GetTaskId");
  return K().Record(b, TkAnswer::TaskId);
}
void TaskOnlyRegisterCallbackSink(IkxTaskOnly* self, CkxTaskCallback* pTask, int32_t iSlot) {
  CallBuilder b(KxNames::kTaskOnly, self, 15, "RegisterCallbackSink");
  b.Ptr(pTask).Arg(Int(iSlot));
  b.call().callbackSink = pTask;
  K().Record(b);
}

// ---------------------------------------------------------------------------
// "CkxD2MessMan"

void MessRelease(IkxD2MessMan* self) {
  CallBuilder b(KxNames::kMessMan, self, 2, "Release");
  K().RecordRelease(b);
}
bool MessDispatch(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest) {
  CallBuilder b(KxNames::kMessMan, self, 3, "Dispatch");
  b.Arg(Int(liTarget)).Arg(Request(pRequest));
  if (pRequest != nullptr) b.call().request = *pRequest;
  return Yes(K().Record(b, TkAnswer::Dispatch));
}
bool MessWithdraw(IkxD2MessMan* self, int64_t liTarget, const KxMessRequest* pRequest) {
  CallBuilder b(KxNames::kMessMan, self, 4, "Withdraw");
  b.Arg(Int(liTarget)).Arg(Request(pRequest));
  if (pRequest != nullptr) b.call().request = *pRequest;
  return Yes(K().Record(b, TkAnswer::Withdraw));
}
int32_t MessRegister(IkxD2MessMan* self, const char* csName, CkxMessageInfo* pRecord) {
  CallBuilder b(KxNames::kMessMan, self, 5, "Register");
  b.Arg(Str(csName)).Ptr(pRecord);
  b.call().messRecord = pRecord;
  return K().RecordRegister(b, csName, pRecord);
}

// ---------------------------------------------------------------------------
// "CkxDtbAccByStr"

void AccessRelease(IkxDtbAccByStr* self) {
  CallBuilder b(KxNames::kDtbAccByStr, self, 2, "Release");
  K().RecordRelease(b);
}

// ---------------------------------------------------------------------------
// "CkxDtb2File"

void FileRelease(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 2, "Release");
  K().RecordRelease(b);
}
void FileSetTemplateName(IkxDtb2File* self, const char* csName) {
  CallBuilder b(KxNames::kFile, self, 3, "SetTemplateName");
  b.Arg(Str(csName));
  K().Record(b);
}
void FileSetFileTemplateName(IkxDtb2File* self, const char* csName) {
  CallBuilder b(KxNames::kFile, self, 4, "SetFileTemplateName");
  b.Arg(Str(csName));
  K().Record(b);
}
void FileGetObjInd(IkxDtb2File* self, uint64_t uiDimId) {
  CallBuilder b(KxNames::kFile, self, 5, "GetObjInd");
  b.Arg(Uns(uiDimId));
  K().Record(b);
}
void FileSetObjInd(IkxDtb2File* self, uint64_t uiDimId) {
  CallBuilder b(KxNames::kFile, self, 6, "SetObjInd");
  b.Arg(Uns(uiDimId));
  K().Record(b);
}
int32_t FileOpen(IkxDtb2File* self, const char* csPath, const char* csAlias1, const char* csAlias2,
                 const char* csMode, const char* csFileSet, bool bCreate, uint64_t uiDimHandle,
                 uint32_t uiDimDyn, uint32_t uiDimExp) {
  CallBuilder b(KxNames::kFile, self, 7, "Open");
  b.Arg(Str(csPath)).Arg(Str(csAlias1)).Arg(Str(csAlias2)).Arg(Str(csMode)).Arg(Str(csFileSet));
  b.Arg(Bool(bCreate)).Arg(Uns(uiDimHandle)).Arg(Uns(uiDimDyn)).Arg(Uns(uiDimExp));
  return static_cast<int32_t>(K().Record(b, TkAnswer::OpenFileId));
}
void FileRegisterMember(IkxDtb2File* self, uint64_t uiObjectId, uint32_t uiClassId) {
  CallBuilder b(KxNames::kFile, self, 9, "RegisterMember");
  b.Arg(Uns(uiObjectId)).Arg(Uns(uiClassId));
  K().Record(b);
}
bool FileIsOpen(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 11, "IsOpen");
  return Yes(K().Record(b, TkAnswer::IsOpen));
}
void FileClear(IkxDtb2File* self, uint32_t uiFlags) {
  CallBuilder b(KxNames::kFile, self, 12, "Clear");
  b.Arg(Hex(uiFlags));
  K().Record(b);
}
bool FileSelectFileDlg(IkxDtb2File* self, const char* csAlias1, const char* csRootPath,
                       const char* csPathIn, KxStringOut* pPathSel, const char* csFileSetIn,
                       KxStringOut* pFileSetSel, bool bUsePath, bool bEnableScanDisk) {
  CallBuilder b(KxNames::kFile, self, 13, "SelectFileDlg");
  b.Arg(Str(csAlias1)).Arg(Str(csRootPath)).Arg(Str(csPathIn)).Arg(Out(pPathSel));
  b.Arg(Str(csFileSetIn)).Arg(Out(pFileSetSel)).Arg(Bool(bUsePath)).Arg(Bool(bEnableScanDisk));
  const bool ok = Yes(K().Record(b, TkAnswer::SelectFileDlg));
  if (ok) {
    const auto [csPath, csFileSet] = K().SelectedFile();
    Assign(pPathSel, csPath);
    Assign(pFileSetSel, csFileSet);
  }
  return ok;
}
bool FileSave(IkxDtb2File* self, int32_t iSaveOld, int16_t sDefPath, const char* csPath) {
  CallBuilder b(KxNames::kFile, self, 14, "Save");
  b.Arg(Int(iSaveOld)).Arg(Int(sDefPath)).Arg(Str(csPath));
  return Yes(K().Record(b, TkAnswer::Save));
}
bool FileGetFullPath(IkxDtb2File* self, KxStringOut* pPath) {
  CallBuilder b(KxNames::kFile, self, 18, "GetFullPath");
  b.Arg(Out(pPath));
  const bool ok = Yes(K().Record(b, TkAnswer::GetFullPath));
  if (ok) Assign(pPath, K().FullPath());
  return ok;
}
bool FileUnLoad(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 19, "UnLoad");
  return Yes(K().Record(b, TkAnswer::UnLoad));
}
void FileUpdate(IkxDtb2File* self, uint32_t uiFlags) {
  CallBuilder b(KxNames::kFile, self, 21, "Update");
  b.Arg(Hex(uiFlags));
  K().Record(b);
}
int32_t FileGetDynGrowStatus(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 22, "GetDynGrowStatus");
  return static_cast<int32_t>(K().Record(b, TkAnswer::DynGrowStatus));
}
int32_t FileGetFileIdOfMessage(IkxDtb2File* self, int32_t iParam, int64_t liParam) {
  CallBuilder b(KxNames::kFile, self, 23, "GetFileIdOfMessage");
  b.Arg(Int(iParam)).Arg(Int(liParam));
  return static_cast<int32_t>(K().Record(b, TkAnswer::FileIdOfMessage));
}
void FileGetNGELock(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 24, "GetNGELock");
  K().Record(b);
}
void FileReleaseNGELock(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 25, "ReleaseNGELock");
  K().Record(b);
}
void FileGetNGMLock(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 26, "GetNGMLock");
  K().Record(b);
}
void FileReleaseNGMLock(IkxDtb2File* self) {
  CallBuilder b(KxNames::kFile, self, 27, "ReleaseNGMLock");
  K().Record(b);
}
void FileGetObjIndByName(IkxDtb2File* self, uint64_t uiDimId, const char* csName) {
  CallBuilder b(KxNames::kFile, self, 28, "GetObjIndByName");
  b.Arg(Uns(uiDimId)).Arg(Str(csName));
  K().Record(b);
}
bool FileSaveFileAsXml(IkxDtb2File* self, const char* csPath) {
  CallBuilder b(KxNames::kFile, self, 29, "SaveFileAsXml");
  b.Arg(Str(csPath));
  return Yes(K().Record(b, TkAnswer::SaveFileAsXml));
}
bool FileUpdateFileFromXml(IkxDtb2File* self, const char* csPath) {
  CallBuilder b(KxNames::kFile, self, 30, "UpdateFileFromXml");
  b.Arg(Str(csPath));
  return Yes(K().Record(b, TkAnswer::UpdateFileFromXml));
}

// ---------------------------------------------------------------------------
// "CkxDtb2Obj"

void ObjRelease(IkxDtb2Obj* self) {
  CallBuilder b(KxNames::kObj, self, 2, "Release");
  K().RecordRelease(b);
}
uint64_t ObjBind(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject) {
  CallBuilder b(KxNames::kObj, self, 3, "Bind");
  b.Ptr(pObject);
  b.call().boundObject = pObject;
  return static_cast<uint64_t>(K().Record(b, TkAnswer::BindId));
}
uint64_t ObjBindMember(IkxDtb2Obj* self, CkxDtb2ObjCallback* pObject, uint32_t uiClassId) {
  CallBuilder b(KxNames::kObj, self, 4, "BindMember");
  b.Ptr(pObject).Arg(Uns(uiClassId));
  b.call().boundObject = pObject;
  return static_cast<uint64_t>(K().Record(b, TkAnswer::BindId));
}
void ObjUpdateID(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
                 KxUpdateRecord* pRecord) {
  CallBuilder b(KxNames::kObj, self, 5, "UpdateID");
  b.Arg(Hex(uiFlags)).Arg(Cmd(pCmd)).Arg(RecordText(pRecord));
  if (pRecord != nullptr) b.call().update = *pRecord;
  const auto id = static_cast<uint64_t>(K().Record(b, TkAnswer::UpdateId));
  if (pRecord != nullptr) pRecord->updateId = id;
}
void ObjResizeDynMember(IkxDtb2Obj* self, uint32_t uiLength, void* pMember) {
  CallBuilder b(KxNames::kObj, self, 6, "ResizeDynMember");
  b.Arg(Uns(uiLength)).Ptr(pMember);
  K().Record(b);
}
void ObjResizeArray(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader) {
  CallBuilder b(KxNames::kObj, self, 7, "ResizeArray");
  b.Arg(Uns(uiSize)).Ptr(pHeader);
  K().Record(b);
}
uint32_t ObjEmbeddedMapCmd(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                           KxContainerHeader* pHeader) {
  CallBuilder b(KxNames::kObj, self, 10, "EmbeddedMapCmd");
  b.Arg(Int(iCmd)).Arg(Uns(uiKey)).Arg(Str(csKey)).Ptr(pHeader);
  return static_cast<uint32_t>(K().Record(b, TkAnswer::EmbeddedMapCmd));
}
uint32_t ObjMapCmd(IkxDtb2Obj* self, int32_t iCmd, uint64_t uiKey, const char* csKey,
                   KxContainerHeader* pHeader) {
  CallBuilder b(KxNames::kObj, self, 11, "MapCmd");
  b.Arg(Int(iCmd)).Arg(Uns(uiKey)).Arg(Str(csKey)).Ptr(pHeader);
  return static_cast<uint32_t>(K().Record(b, TkAnswer::MapCmd));
}

// The four key operations differ only in slot and name.
void GetKey(IkxDtb2Obj* self, int iSlot, const char* csOp, uint32_t uiHandle, uint64_t* pKey,
            KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader) {
  CallBuilder b(KxNames::kObj, self, iSlot, csOp);
  b.Arg(Uns(uiHandle)).Ptr(pKey).Arg(Out(pStrKey)).Arg(Bool(bFlag)).Ptr(pHeader);
  K().Record(b);
  const auto [uiKey, csKey] = K().NodeKey();
  if (pKey != nullptr) *pKey = uiKey;
  Assign(pStrKey, csKey);
}
void ObjEmbeddedMapGetKey(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
                          bool bFlag, KxContainerHeader* pHeader) {
  GetKey(self, 12, "EmbeddedMapGetKey", uiHandle, pKey, pStrKey, bFlag, pHeader);
}
void ObjMapGetKey(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
                  bool bFlag, KxContainerHeader* pHeader) {
  GetKey(self, 13, "MapGetKey", uiHandle, pKey, pStrKey, bFlag, pHeader);
}
void ObjClear(IkxDtb2Obj* self, uint32_t uiFlags, const Sd2UpdateCmd* pCmd,
              KxUpdateRecord* pRecord) {
  CallBuilder b(KxNames::kObj, self, 18, "Clear");
  b.Arg(Hex(uiFlags)).Arg(Cmd(pCmd)).Arg(RecordText(pRecord));
  if (pRecord != nullptr) b.call().update = *pRecord;
  K().Record(b);
}
void ObjEmbeddedMapGetKeyNotProt(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey,
                                 KxStringOut* pStrKey, bool bFlag, KxContainerHeader* pHeader) {
  GetKey(self, 22, "EmbeddedMapGetKeyNotProt", uiHandle, pKey, pStrKey, bFlag, pHeader);
}
void ObjMapGetKeyNotProt(IkxDtb2Obj* self, uint32_t uiHandle, uint64_t* pKey, KxStringOut* pStrKey,
                         bool bFlag, KxContainerHeader* pHeader) {
  GetKey(self, 23, "MapGetKeyNotProt", uiHandle, pKey, pStrKey, bFlag, pHeader);
}
void ObjResizeDynMemberNotProt(IkxDtb2Obj* self, uint32_t uiLength, void* pMember) {
  CallBuilder b(KxNames::kObj, self, 24, "ResizeDynMemberNotProt");
  b.Arg(Uns(uiLength)).Ptr(pMember);
  K().Record(b);
}
void ObjResizeArrayNotProt(IkxDtb2Obj* self, uint32_t uiSize, KxArrayHeader* pHeader) {
  CallBuilder b(KxNames::kObj, self, 25, "ResizeArrayNotProt");
  b.Arg(Uns(uiSize)).Ptr(pHeader);
  K().Record(b);
}
void ObjSaveAsXml(IkxDtb2Obj* self, const Sd2UpdateCmd* pCmd, KxUpdateRecord* pRecord,
                  const char* csPath) {
  CallBuilder b(KxNames::kObj, self, 26, "SaveAsXml");
  b.Arg(Cmd(pCmd)).Arg(RecordText(pRecord)).Arg(Str(csPath));
  if (pRecord != nullptr) b.call().update = *pRecord;
  K().Record(b);
}

// ---------------------------------------------------------------------------
// Operation tables; slots not set are unused and stay null. Filled by
// assignment: aggregate initialisers would have to list every unused slot.

const IkxDtb2ConnectionOps kConnectionOps = [] {
  IkxDtb2ConnectionOps ops{};
  ops.Release = ConnRelease;
  ops.GetObjTlsIndex = ConnGetObjTlsIndex;
  ops.ReleaseRefObject = ConnReleaseRefObject;
  ops.AcceptSchema = ConnAcceptSchema;
  return ops;
}();

const IkxTaskOps kTaskOps = [] {
  IkxTaskOps ops{};
  ops.CreateTaskOnly = TaskCreateTaskOnly;
  ops.Release = TaskRelease;
  ops.Trace = TaskTrace;
  ops.IsKernelRunning = TaskIsKernelRunning;
  ops.SendLog = TaskSendLog;
  return ops;
}();

const IkxTaskOnlyOps kTaskOnlyOps = [] {
  IkxTaskOnlyOps ops{};
  ops.Release = TaskOnlyRelease;
  ops.GetTaskId = TaskOnlyGetTaskId;
  ops.RegisterCallbackSink = TaskOnlyRegisterCallbackSink;
  return ops;
}();

const IkxD2MessManOps kMessManOps = [] {
  IkxD2MessManOps ops{};
  ops.Release = MessRelease;
  ops.Dispatch = MessDispatch;
  ops.Withdraw = MessWithdraw;
  ops.Register = MessRegister;
  return ops;
}();

const IkxDtbAccByStrOps kAccessOps = [] {
  IkxDtbAccByStrOps ops{};
  ops.Release = AccessRelease;
  return ops;
}();

const IkxDtb2FileOps kFileOps = [] {
  IkxDtb2FileOps ops{};
  ops.Release = FileRelease;
  ops.SetTemplateName = FileSetTemplateName;
  ops.SetFileTemplateName = FileSetFileTemplateName;
  ops.GetObjInd = FileGetObjInd;
  ops.SetObjInd = FileSetObjInd;
  ops.Open = FileOpen;
  ops.RegisterMember = FileRegisterMember;
  ops.IsOpen = FileIsOpen;
  ops.Clear = FileClear;
  ops.SelectFileDlg = FileSelectFileDlg;
  ops.Save = FileSave;
  ops.GetFullPath = FileGetFullPath;
  ops.UnLoad = FileUnLoad;
  ops.Update = FileUpdate;
  ops.GetDynGrowStatus = FileGetDynGrowStatus;
  ops.GetFileIdOfMessage = FileGetFileIdOfMessage;
  ops.GetNGELock = FileGetNGELock;
  ops.ReleaseNGELock = FileReleaseNGELock;
  ops.GetNGMLock = FileGetNGMLock;
  ops.ReleaseNGMLock = FileReleaseNGMLock;
  ops.GetObjIndByName = FileGetObjIndByName;
  ops.SaveFileAsXml = FileSaveFileAsXml;
  ops.UpdateFileFromXml = FileUpdateFileFromXml;
  return ops;
}();

const IkxDtb2ObjOps kObjOps = [] {
  IkxDtb2ObjOps ops{};
  ops.Release = ObjRelease;
  ops.Bind = ObjBind;
  ops.BindMember = ObjBindMember;
  ops.UpdateID = ObjUpdateID;
  ops.ResizeDynMember = ObjResizeDynMember;
  ops.ResizeArray = ObjResizeArray;
  ops.EmbeddedMapCmd = ObjEmbeddedMapCmd;
  ops.MapCmd = ObjMapCmd;
  ops.EmbeddedMapGetKey = ObjEmbeddedMapGetKey;
  ops.MapGetKey = ObjMapGetKey;
  ops.Clear = ObjClear;
  ops.EmbeddedMapGetKeyNotProt = ObjEmbeddedMapGetKeyNotProt;
  ops.MapGetKeyNotProt = ObjMapGetKeyNotProt;
  ops.ResizeDynMemberNotProt = ObjResizeDynMemberNotProt;
  ops.ResizeArrayNotProt = ObjResizeArrayNotProt;
  ops.SaveAsXml = ObjSaveAsXml;
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
