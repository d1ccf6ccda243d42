// Native exceptions of the containers: a wrong array index (range) and an
// invalid node handle or destroyed map (node).
//
// They are thrown by value and caught by reference to CkxOrbUnmanException;
// the object face asks the caught object for its text. They hold only 32-bit
// words, so copying one is as cheap as copying a few integers, and they do
// not derive from std::exception: the layout stays vtable, dimension count,
// code, then the members of the derived class, and a handler written for
// std::exception does not swallow them by accident.
#pragma once

#include <cstdint>
#include <string>

// Exception codes. 6 and 7 are the ones the containers raise.
enum OrbUnmanExceptionCode : int32_t {
  OrbUnmanExcUnknown = 0,
  OrbUnmanExcDynAllocDenied = 1,
  OrbUnmanExcValData = 2,
  OrbUnmanExcValDynData = 3,
  OrbUnmanExcValDynCopy = 4,
  OrbUnmanExcOutOfMemory = 5,
  OrbUnmanExcRange = 6,
  OrbUnmanExcLstNode = 7,
};

// Node types named by CkxD2LstNodeException.
enum OrbNodeType : int32_t {
  OrbNodeLinkedList = 0,
  OrbNodeTree = 1,
  OrbNodeMap = 2,
  OrbNodeDynArray = 3,
};

class CkxOrbUnmanException {
 public:
  explicit CkxOrbUnmanException(OrbUnmanExceptionCode eCode = OrbUnmanExcUnknown)
      : m_eCode(eCode) {}
  virtual ~CkxOrbUnmanException() = default;
  CkxOrbUnmanException(const CkxOrbUnmanException&) = default;
  CkxOrbUnmanException& operator=(const CkxOrbUnmanException&) = default;

  // Replaces the content of `strText` with this exception's text and returns
  // it. Here: "Unknown ORB exception".
  virtual std::string& GetErrorText(std::string& strText) const;

  int32_t m_iDimCount = 0;  // always 0 in this library
  OrbUnmanExceptionCode m_eCode;
};

// An array index out of range, e.g.
//   "ORB Array Index: [5]  In Dimension: 1  Is out of range: 0..4"
class CkxD2RangeException : public CkxOrbUnmanException {
 public:
  // As the arrays raise it: dimension (1-based), element count, offending
  // index. The highest valid index is uiSize - 1, or 0 for an empty array.
  CkxD2RangeException(int32_t iDimension, uint32_t uiSize, uint32_t uiIndex)
      : CkxOrbUnmanException(OrbUnmanExcRange),
        m_iDimension(iDimension),
        m_iHighValid(uiSize == 0 ? 0 : static_cast<int32_t>(uiSize - 1)),
        m_iIndex(static_cast<int32_t>(uiIndex)) {}

  // With a dimension count n >= the dimension d, the dimension shown is
  // n - d + 1; otherwise d itself.
  std::string& GetErrorText(std::string& strText) const override;

  int32_t m_iDimension;
  int32_t m_iHighValid;
  int32_t m_iIndex;
};

// An invalid node handle, or any access to a destroyed map.
class CkxD2LstNodeException : public CkxOrbUnmanException {
 public:
  // `iLastValid` -1 marks a destroyed instance; `iNodeType` an OrbNodeType.
  CkxD2LstNodeException(int32_t iHandle, uint32_t uiSignature, int32_t iLastValid,
                        int32_t iNodeType)
      : CkxOrbUnmanException(OrbUnmanExcLstNode),
        m_iHandle(iHandle),
        m_uiSignature(uiSignature),
        m_iLastValid(iLastValid),
        m_iNodeType(iNodeType) {}

  // The signature is shown only for a handle that can hold a node (15 or
  // more and below the last valid handle); otherwise "0x0????????".
  std::string& GetErrorText(std::string& strText) const override;

  int32_t m_iHandle;
  uint32_t m_uiSignature;
  int32_t m_iLastValid;
  int32_t m_iNodeType;
};

// Declared for the framework; the library raises only CkxD2ValDataException,
// for a single object that has no storage (never opened, or unloaded). Their
// text is the base text.
class CkxDynAllocDeniedException : public CkxOrbUnmanException {
 public:
  CkxDynAllocDeniedException() : CkxOrbUnmanException(OrbUnmanExcDynAllocDenied) {}
};
class CkxD2ValDataException : public CkxOrbUnmanException {
 public:
  CkxD2ValDataException() : CkxOrbUnmanException(OrbUnmanExcValData) {}
};
class CkxD2ValDynDataException : public CkxOrbUnmanException {
 public:
  CkxD2ValDynDataException() : CkxOrbUnmanException(OrbUnmanExcValDynData) {}
};
class CkxD2ValDynCopyException : public CkxOrbUnmanException {
 public:
  CkxD2ValDynCopyException() : CkxOrbUnmanException(OrbUnmanExcValDynCopy) {}
};
class CkxOrbOutOfMemoryException : public CkxOrbUnmanException {
 public:
  CkxOrbOutOfMemoryException() : CkxOrbUnmanException(OrbUnmanExcOutOfMemory) {}
};

// Vtable pointer, then 32-bit words only.
static_assert(sizeof(CkxOrbUnmanException) == sizeof(void*) + 2 * 4);
static_assert(sizeof(CkxD2LstNodeException) == sizeof(void*) + 6 * 4);
