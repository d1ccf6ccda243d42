// Text fields of records: dynamic ANSI (CkxD2StrD) and UTF-16 (CkxD2StrDU)
// strings whose characters live in the kernel's dynamic data, and the
// fixed UTF-16 string of 64 characters (CkxD2StrSU<64>) stored in place.
//
// A dynamic string addresses its text from the storage base of the thread's
// current kernel object, so it may be read or written only right after the
// element that holds it was reached through its top-level container on the
// same thread. Writing takes two steps: ReserveNet(n) (which may move the
// dynamic data), reach the element again, then SetNet(text, n).
#pragma once

#include <cstdint>
#include <cstring>

#include "NetInterface/CkxOrbNetInterface/CkxDtb2Obj.h"
#include "NetInterface/CkxOrbNetInterface/KxCurrentObject.h"
#include "contracts/kernel/KxStorage.h"

// What a dynamic string that holds nothing reads as.
extern const char* const Dtb2EmptyDynString;
extern const char16_t* const Dtb2EmptyDynStringU;

// The layout and protocol shared by both dynamic string fields. `C` is the
// character type; `bClampToReserved` makes SetNet stop at the reserved
// length instead of the capacity.
template <class C, bool bClampToReserved>
class KxDynStringField {
 public:
  // The text, or the empty constant when the length word is at most 1.
  // Stores the length (length word - 1, so -1 for a never-written string).
  const C* GetNet(int* piLength) const {
    if (piLength != nullptr) *piLength = static_cast<int>(m_Str.lengthWord) - 1;
    if (m_Str.lengthWord <= 1) return Empty();
    C* pText = Text(m_Str.lengthWord);
    return pText != nullptr ? pText : Empty();
  }

  // Makes the text exactly `iLength` characters long. Within the capacity
  // this moves the terminator; otherwise (and always for 0) the kernel
  // allocates, moves or frees the text and rewrites the length, capacity
  // and offset words.
  void ReserveNet(int iLength) {
    if (ReserveInPlace(iLength)) return;
    CkxDtb2Obj* pObject = KxCurrentObject();
    if (pObject != nullptr)
      pObject->m_Obj.Call<&IkxDtb2ObjOps::ResizeDynMember>(static_cast<uint32_t>(iLength), &m_Str);
  }

  // ReserveNet's part that needs no kernel: true when the text's capacity
  // held `iLength` characters and the length is set; false when the kernel
  // must resize it (Resize, as one of a batch: KxResizeMembers).
  bool ReserveInPlace(int iLength) {
    const uint32_t uiLength = static_cast<uint32_t>(iLength);
    if (uiLength == 0 || uiLength >= m_Str.capacity) return false;
    if (m_Str.lengthWord == uiLength + 1) return true;
    C* pText = Text(m_Str.capacity);
    if (pText == nullptr) return true;
    m_Str.lengthWord = uiLength + 1;
    pText[uiLength] = 0;
    return true;
  }
  KxMemberResize Resize(int iLength) { return {&m_Str, static_cast<uint32_t>(iLength)}; }

  // Copies at most `iLength` characters (taken as unsigned) into the
  // reserved text and terminates them. Does not change the length word.
  void SetNet(const C* pSource, int iLength) {
    const int64_t liLimit =
        static_cast<int64_t>(bClampToReserved ? m_Str.lengthWord : m_Str.capacity) - 1;
    const int64_t liWanted = static_cast<uint32_t>(iLength);
    const int64_t liCount = liWanted < liLimit ? liWanted : liLimit;
    if (liCount < 1 || pSource == nullptr) return;
    C* pText = Text(static_cast<uint64_t>(liCount) + 1);
    if (pText == nullptr) return;
    std::memcpy(pText, pSource, static_cast<size_t>(liCount) * sizeof(C));
    pText[liCount] = 0;
  }

  KxDynString m_Str;

 private:
  static const C* Empty();
  // The text in the current object's storage, `uiChars` characters of it
  // checked to lie there; null without a current object or when they do not.
  C* Text(uint64_t uiChars) const {
    CkxDtb2Obj* pObject = KxCurrentObject();
    if (pObject == nullptr) return nullptr;
    return reinterpret_cast<C*>(
        pObject->StorageAt(4 * uint64_t{m_Str.textOffset}, uiChars * sizeof(C)));
  }
};

template <>
inline const char* KxDynStringField<char, true>::Empty() {
  return Dtb2EmptyDynString;
}
template <>
inline const char16_t* KxDynStringField<char16_t, false>::Empty() {
  return Dtb2EmptyDynStringU;
}

// Dynamic ANSI (Windows-1252) string, 24 bytes.
class CkxD2StrD : public KxDynStringField<char, true> {};
// Dynamic UTF-16 string, 24 bytes; may start on any 4-byte boundary.
class CkxD2StrDU : public KxDynStringField<char16_t, false> {};

static_assert(sizeof(CkxD2StrD) == 24 && alignof(CkxD2StrD) == 4);
static_assert(sizeof(CkxD2StrDU) == 24 && alignof(CkxD2StrDU) == 4);

// Fixed UTF-16 string of at most N characters stored in the record: a
// 16-bit length, then N characters and the terminator.
template <int N>
class CkxD2StrSU {
 public:
  const char16_t* GetNet(int* piLength) const {
    if (piLength != nullptr) *piLength = m_usLength;
    return m_aText;
  }

  // Copies min(iLength, N) characters (iLength taken as unsigned, so a
  // negative length copies N), terminates them and stores the count.
  void SetNet(const char16_t* pSource, int iLength) {
    uint32_t uiCount = static_cast<uint32_t>(iLength);
    if (uiCount > static_cast<uint32_t>(N)) uiCount = N;
    if (pSource == nullptr) uiCount = 0;
    std::memcpy(m_aText, pSource == nullptr ? u"" : pSource, uiCount * sizeof(char16_t));
    m_aText[uiCount] = 0;
    m_usLength = static_cast<uint16_t>(uiCount);
  }

  uint16_t m_usLength;
  char16_t m_aText[N + 1];
};

static_assert(sizeof(CkxD2StrSU<64>) == 132);
