// Kernel storage laid out by hand for the container tests: map headers and
// nodes with their records, array elements and string texts, in one buffer
// whose handles and offsets count 4-byte units from its base. Also what the
// tests read back from the test kernel: trace lines and log texts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/CkxOrbUnmanException.h"
#include "contracts/kernel/KxStorage.h"
#include "tests/testkernel/TestKernel.h"

class StorageBuilder {
 public:
  // First offset handed out: handles below 15 never hold a node.
  static constexpr uint32_t kFirst = 16;

  explicit StorageBuilder(size_t uiWords = 8192) : m_aBuffer(uiWords / 2) {
    m_pBase = reinterpret_cast<uint8_t*>(m_aBuffer.data());
  }
  StorageBuilder(const StorageBuilder&) = delete;
  StorageBuilder& operator=(const StorageBuilder&) = delete;

  // Reserves `uiBytes` zeroed bytes on an 8-byte boundary; answers their
  // offset. Everything up to the end of the block becomes a valid handle.
  uint32_t Alloc(size_t uiBytes) {
    const uint32_t uiOffset = m_uiNext;
    m_uiNext += static_cast<uint32_t>((uiBytes + 7) / 8 * 2);
    if (m_uiNext > m_aBuffer.size() * 2) throw std::length_error("test storage full");
    m_uiLastValid = m_uiNext;
    return uiOffset;
  }

  template <class T>
  T& At(uint32_t uiOffset) {
    return *reinterpret_cast<T*>(m_pBase + 4 * static_cast<size_t>(uiOffset));
  }

  // A top-level map header with a live lock word.
  KxContainerHeader& NewMap() {
    KxContainerHeader& header = At<KxContainerHeader>(Alloc(sizeof(KxContainerHeader)));
    header.lockWord = KxLockWord::kSignature;
    return header;
  }

  // Appends a clean node with a zeroed record of `uiRecordBytes` to the
  // chain of `header` and counts it; answers its handle.
  uint32_t AddNode(KxContainerHeader& header, size_t uiRecordBytes) {
    const uint32_t uiHandle = Alloc(sizeof(KxMapNode) + uiRecordBytes);
    At<KxMapNode>(uiHandle).signature = KxNodeState::kClean;
    uint32_t* pLink = &header.headHandle;
    while (*pLink != 0) pLink = &At<KxMapNode>(*pLink).nextHandle;
    *pLink = uiHandle;
    ++header.count;
    return uiHandle;
  }

  // The record of node `uiHandle`.
  template <class T>
  T& Record(uint32_t uiHandle) {
    return At<T>(uiHandle + sizeof(KxMapNode) / 4);
  }

  // `uiCount` elements of `uiElementBytes` behind an array header.
  void FillArray(KxArrayHeader& header, uint32_t uiCount, size_t uiElementBytes) {
    header.size = uiCount;
    header.dataOffset = Alloc(uiCount * uiElementBytes + 4);
  }

  // A dynamic string field holding `text`, with room for `uiCapacity`
  // characters, terminator included.
  template <class C>
  void FillString(KxDynString& field, const std::basic_string<C>& text, uint32_t uiCapacity) {
    field.textOffset = Alloc(uiCapacity * sizeof(C));
    std::memcpy(&At<C>(field.textOffset), text.c_str(), (text.size() + 1) * sizeof(C));
    field.lengthWord = static_cast<uint32_t>(text.size()) + 1;
    field.capacity = uiCapacity;
  }

  // What OnAttach does to the owner of a top-level container.
  void Attach(CkxDtb2Obj& owner) {
    owner.m_ppStorageBase = &m_pBase;
    owner.m_pLastValidHandle = &m_uiLastValid;
  }

  uint8_t* m_pBase;
  uint32_t m_uiLastValid = kFirst;

 private:
  std::vector<uint64_t> m_aBuffer;
  uint32_t m_uiNext = kFirst;
};

// A member object of a file template holding one top-level container `C`,
// attached to `storage` the way the kernel attaches it.
template <class C>
struct TestMember : CkxDtb2Obj {
  template <class H>
  void Attach(StorageBuilder& storage, H* pHeader) {
    storage.Attach(*this);
    m_Container.m_pOwner = this;
    if constexpr (requires { m_Container.m_pHeader; }) {
      m_Container.m_pHeader = pHeader;
    } else {
      m_Container.m_pObject = pHeader;
    }
  }
  C m_Container;
};

// The lock operations of a lockable container.
struct LockOps {
  std::function<void()> GetAR, ReleaseAR, GetRWE, ReleaseRWE;
  std::function<bool()> Upgrade;
};
template <class C>
LockOps OpsOf(C& c) {
  return {[&c] { c.GetARLock(); }, [&c] { c.ReleaseARLock(); }, [&c] { c.GetRWELock(); },
          [&c] { c.ReleaseRWELock(); }, [&c] { return c.GetARLockFromRWELock(); }};
}

// The messages of the trace lines written since the last ClearCalls, after
// checking that each went out as the containers write them.
inline std::vector<std::string> TraceMessages(const TestKernel& kernel) {
  std::vector<std::string> out;
  for (const TkCall& call : kernel.CallsOf("CkxTask")) {
    if (call.op != "Trace") continue;
    if (call.args.size() != 7 || call.args[0] != "0" || call.args[1] != "\"CkxNetDtb2\"" ||
        call.args[4] != "\"\"" || call.args[5] != "\"\"" || call.args[6] != "\"\"") {
      out.push_back("malformed: " + call.text);
      continue;
    }
    out.push_back(call.args[3].substr(1, call.args[3].size() - 2));
  }
  return out;
}

// A node exception as "(handle,signature,last) type code".
inline std::string NodeText(int64_t iHandle, int64_t iSignature, int64_t iLast, int iType,
                            int iCode) {
  char acText[80];
  std::snprintf(acText, sizeof acText, "(%d,%d,%d) %d %d", static_cast<int32_t>(iHandle),
                static_cast<int32_t>(iSignature), static_cast<int32_t>(iLast), iType, iCode);
  return acText;
}

// The node exception the maps raise: node type 2, code 7.
inline std::string NodeFault(int64_t iHandle, int64_t iSignature, int64_t iLast) {
  return NodeText(iHandle, iSignature, iLast, 2, 7);
}

// What `fn` throws: a node exception as NodeText, a range exception as
// "range <code>: <text>", else "none" or "other".
template <class F>
std::string Fault(F fn) {
  try {
    fn();
  } catch (const CkxD2LstNodeException& e) {
    return NodeText(e.m_iHandle, e.m_uiSignature, e.m_iLastValid, e.m_iNodeType, e.m_eCode);
  } catch (const CkxD2RangeException& e) {
    std::string text;
    return "range " + std::to_string(e.m_eCode) + ": " + e.GetErrorText(text);
  } catch (...) {
    return "other";
  }
  return "none";
}
