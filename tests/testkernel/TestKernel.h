// The recording kernel: a component manager for tests laid over the
// reference kernel. It hands every call on to the reference kernel, which
// stores the data and gives every answer; it only lowers the versions a test
// chooses (or refuses an interface) and records every call in order.
//
// The state lives in the loaded component manager library; tests reach it
// through TestKernel_Instance() (see TestKernelSupport.h, TkLoad). The class is
// abstract so that tests call it through its virtual table and need no link
// against the library.
//
// Rendering of arguments in TkCall::args and TkCall::text:
//   integers       decimal ("5", "-1"); Sd2UpdateCmd in hex ("0x220")
//   strings        in double quotes, as given, no escaping ("\"Varnox\""); null as null
//   bools          true / false
//   pointers       ptr / null; the values are kept in TkCall::ptrs
//   KxStringOut*   out / null
//   update record  its text in double quotes (up to the terminator); null as null
//   message req.   {message,param,param64,count,0xflags}
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "contracts/kernel/KxComponent.h"

// One recorded call.
struct TkCall {
  // Interface the call went to (for CreateKxComponent: the one requested).
  std::string itf;
  // Instance number of that interface, counted per name from 1 after each
  // Reset; 0 for CreateKxComponent and for calls with a null interface.
  int instance = 0;
  std::string op;                 // "RegisterMember"
  std::vector<std::string> args;  // {"5", "75530582"}
  std::string text;               // "RegisterMember(5,75530582)"
  // CreateKxComponent and CkxTask::CreateTaskOnly: the instance handed out
  // ("CkxTaskOnly#1"); empty when refused.
  std::string created;
  // What the reference kernel answered (booleans as 0 / 1); for an
  // operation without a result, the update id it wrote into the update
  // record, else 0.
  int64_t answer = 0;

  // Pointer arguments in argument order.
  std::vector<const void*> ptrs;
  // Copies taken at the call.
  std::vector<uint8_t> logData;          // task SendLog (args[0]: the event type)
  std::optional<KxMessRequest> request;  // MessMan Dispatch, Withdraw

  // "CkxDtb2File#1".
  std::string Name() const { return itf + "#" + std::to_string(instance); }

  // One log line, e.g.
  //   CreateKxComponent("CkxDtb2","CkxDtb2File",1,16,10,null) -> CkxDtb2File#1
  //   CkxDtb2File#1 RegisterMember(5,75530582)
  std::string Line() const {
    if (op == "CreateKxComponent") return text + " -> " + (created.empty() ? "refused" : created);
    return Name() + " " + text + (created.empty() ? "" : " -> " + created);
  }
};

class TestKernel {
 public:
  virtual ~TestKernel() = default;

  // Forgets calls, grants and message records and restarts instance
  // numbering. Interfaces handed out before stay valid and keep
  // their numbers.
  virtual void Reset() = 0;
  // Forgets the recorded calls only.
  virtual void ClearCalls() = 0;

  // Grants at most `version` for interface `itf` (the reference kernel is
  // offered the lower of it and the library's offer); 0 refuses it without
  // asking the reference kernel.
  // Throws std::invalid_argument for a name the kernel does not hand out.
  virtual void Grant(const std::string& itf, uint32_t version) = 0;
  void Refuse(const std::string& itf) { Grant(itf, 0); }

  // Every call since the last Reset or ClearCalls, in call order.
  virtual std::vector<TkCall> Calls() const = 0;
  // The calls to an interface ("CkxDtb2Obj") or to one instance of it
  // ("CkxDtb2Obj#2"); an empty filter keeps all.
  std::vector<TkCall> CallsOf(const std::string& filter) const {
    std::vector<TkCall> out;
    for (TkCall& call : Calls()) {
      if (filter.empty() || filter == call.itf || filter == call.Name())
        out.push_back(std::move(call));
    }
    return out;
  }
  // The answer of the last call `csOp` that belongs to `filter`; -1 when
  // there was none.
  int64_t AnswerOf(const std::string& filter, const std::string& csOp) const {
    int64_t liAnswer = -1;
    for (const TkCall& call : CallsOf(filter)) {
      if (call.op == csOp) liAnswer = call.answer;
    }
    return liAnswer;
  }
  // The calls of CallsOf as lines (TkCall::Line), each ending with '\n'.
  std::string Log(const std::string& filter = "") const {
    std::string out;
    for (const TkCall& call : CallsOf(filter)) out += call.Line() + "\n";
    return out;
  }

  // Instances of `itf` handed out since the last Reset and not yet released.
  virtual int Live(const std::string& itf) const = 0;

  // The last record registered under message `csName` among the calls, or
  // null. It stays valid as long as the object that registered it.
  // Delivering the message: record->Send(0, message, param, param64, ...).
  CkxMessageInfo* MessageRecord(const std::string& csName) const {
    const void* pRecord = nullptr;
    for (const TkCall& call : CallsOf("CkxD2MessMan")) {
      if (call.op == "Register" && call.args.at(0) == "\"" + csName + "\"")
        pRecord = call.ptrs.at(0);
    }
    return static_cast<CkxMessageInfo*>(const_cast<void*>(pRecord));
  }
};

// Exported by the test kernel library.
extern "C" TestKernel* TestKernel_Instance();
using PfTestKernelInstance = TestKernel* (*)();
