// Checked printf-style formatting: each conversion is parsed, validated
// against the next argument, rebuilt as a single-conversion format and
// rendered by snprintf with the argument cast to the C type that format names.
#include "NetInterface/CkxOrbNetInterface/KxFormat.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

enum KxLength { kLenNone, kLenHH, kLenH, kLenL, kLenLL, kLenZ, kLenJ, kLenT, kLenBigL };

// One parsed conversion.
struct KxConversion {
  bool bMinus = false;
  bool bPlus = false;
  bool bSpace = false;
  bool bHash = false;
  bool bZero = false;
  int iWidth = -1;      // -1: none
  int iPrecision = -1;  // -1: none
  KxLength eLength = kLenNone;
  char cConv = 0;
};

// Reads the next argument, or fails when the arguments are used up.
class KxArgCursor {
 public:
  explicit KxArgCursor(std::span<const KxArg> args) : m_Args(args) {}
  const KxArg* Next() { return m_uiNext < m_Args.size() ? &m_Args[m_uiNext++] : nullptr; }

 private:
  std::span<const KxArg> m_Args;
  size_t m_uiNext = 0;
};

bool IsInteger(const KxArg& arg) {
  return arg.m_Kind == KxArg::kSigned || arg.m_Kind == KxArg::kUnsigned;
}

// The 64 bits of an integer argument; narrowing casts of them keep the low
// bits, as printf does with an argument of the type its conversion names.
uint64_t IntegerBits(const KxArg& arg) {
  return arg.m_Kind == KxArg::kSigned ? static_cast<uint64_t>(arg.m_liValue) : arg.m_uliValue;
}

// Reads decimal digits; fails above kKxFormatMaxField.
bool ParseDigits(const char*& pCur, int& iValue) {
  iValue = 0;
  while (*pCur >= '0' && *pCur <= '9') {
    iValue = iValue * 10 + (*pCur - '0');
    if (iValue > kKxFormatMaxField) return false;
    ++pCur;
  }
  return true;
}

// A width or precision given as '*': an integer argument taken as int.
bool StarValue(KxArgCursor& cursor, int& iValue) {
  const KxArg* pArg = cursor.Next();
  if (pArg == nullptr || !IsInteger(*pArg)) return false;
  iValue = static_cast<int>(IntegerBits(*pArg));
  return true;
}

void ParseLength(const char*& pCur, KxLength& eLength) {
  eLength = kLenNone;
  switch (*pCur) {
    case 'h':
      ++pCur;
      if (*pCur == 'h') {
        ++pCur;
        eLength = kLenHH;
      } else {
        eLength = kLenH;
      }
      return;
    case 'l':
      ++pCur;
      if (*pCur == 'l') {
        ++pCur;
        eLength = kLenLL;
      } else {
        eLength = kLenL;
      }
      return;
    case 'z':
      ++pCur;
      eLength = kLenZ;
      return;
    case 'j':
      ++pCur;
      eLength = kLenJ;
      return;
    case 't':
      ++pCur;
      eLength = kLenT;
      return;
    case 'L':
      ++pCur;
      eLength = kLenBigL;
      return;
    default:
      return;
  }
}

// Parses one conversion after its '%', taking '*' values from `cursor`.
bool ParseConversion(const char*& pCur, KxArgCursor& cursor, KxConversion& conv) {
  for (;; ++pCur) {
    switch (*pCur) {
      case '-':
        conv.bMinus = true;
        continue;
      case '+':
        conv.bPlus = true;
        continue;
      case ' ':
        conv.bSpace = true;
        continue;
      case '#':
        conv.bHash = true;
        continue;
      case '0':
        conv.bZero = true;
        continue;
      default:
        break;
    }
    break;
  }
  if (*pCur == '*') {
    ++pCur;
    int iWidth = 0;
    if (!StarValue(cursor, iWidth)) return false;
    if (iWidth < -kKxFormatMaxField || iWidth > kKxFormatMaxField) return false;
    if (iWidth < 0) {
      conv.bMinus = true;
      iWidth = -iWidth;
    }
    conv.iWidth = iWidth;
  } else if (*pCur >= '1' && *pCur <= '9') {
    if (!ParseDigits(pCur, conv.iWidth)) return false;
  }
  if (*pCur == '.') {
    ++pCur;
    if (*pCur == '*') {
      ++pCur;
      int iPrecision = 0;
      if (!StarValue(cursor, iPrecision)) return false;
      if (iPrecision > kKxFormatMaxField) return false;
      conv.iPrecision = iPrecision < 0 ? -1 : iPrecision;
    } else if (!ParseDigits(pCur, conv.iPrecision)) {
      return false;
    }
  }
  ParseLength(pCur, conv.eLength);
  conv.cConv = *pCur;
  if (conv.cConv == 0) return false;  // the format ends inside a conversion
  ++pCur;
  return true;
}

enum KxConvClass { kClsBad, kClsSigned, kClsUnsigned, kClsChar, kClsText, kClsPointer, kClsFloat };

KxConvClass ClassOf(char cConv) {
  switch (cConv) {
    case 'd':
    case 'i':
      return kClsSigned;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      return kClsUnsigned;
    case 'c':
      return kClsChar;
    case 's':
      return kClsText;
    case 'p':
      return kClsPointer;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      return kClsFloat;
    default:
      return kClsBad;  // includes 'n' and '%' with flags, width or the like
  }
}

// Refuses the combinations printf leaves undefined or this formatter does
// not render (wide characters and strings).
bool IsWellFormed(const KxConversion& conv, KxConvClass eClass) {
  switch (eClass) {
    case kClsSigned:
      return !conv.bHash && conv.eLength != kLenBigL;
    case kClsUnsigned:
      return (!conv.bHash || conv.cConv != 'u') && conv.eLength != kLenBigL;
    case kClsChar:
    case kClsPointer:
      return !conv.bHash && !conv.bZero && conv.iPrecision < 0 && conv.eLength == kLenNone;
    case kClsText:
      return !conv.bHash && !conv.bZero && conv.eLength == kLenNone;
    case kClsFloat:
      return conv.eLength == kLenNone || conv.eLength == kLenL || conv.eLength == kLenBigL;
    case kClsBad:
      break;
  }
  return false;
}

// Writes the single-conversion format, e.g. "%-08.3lld", into `acConvFormat`.
void BuildConversionFormat(const KxConversion& conv, char (&acConvFormat)[48]) {
  char* pOut = acConvFormat;
  *pOut++ = '%';
  if (conv.bMinus) *pOut++ = '-';
  if (conv.bPlus) *pOut++ = '+';
  if (conv.bSpace) *pOut++ = ' ';
  if (conv.bHash) *pOut++ = '#';
  if (conv.bZero) *pOut++ = '0';
  if (conv.iWidth >= 0) pOut += std::snprintf(pOut, 12, "%d", conv.iWidth);
  if (conv.iPrecision >= 0) pOut += std::snprintf(pOut, 13, ".%d", conv.iPrecision);
  static constexpr const char* kLengths[] = {"", "hh", "h", "l", "ll", "z", "j", "t", "L"};
  for (const char* pLen = kLengths[conv.eLength]; *pLen != 0; ++pLen) *pOut++ = *pLen;
  *pOut++ = conv.cConv;
  *pOut = 0;
}

// Renders one conversion of `tValue` and appends it. The format is not a
// literal: it was built above from a checked conversion, and `tValue` has the
// type it names.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <class T>
bool Render(std::string& strOut, const char* csConvFormat, T tValue) {
  char acBuffer[256];
  const int iLen = std::snprintf(acBuffer, sizeof acBuffer, csConvFormat, tValue);
  if (iLen < 0) return false;
  const size_t uiLen = static_cast<size_t>(iLen);
  if (uiLen < sizeof acBuffer) {
    strOut.append(acBuffer, uiLen);
    return true;
  }
  const size_t uiOld = strOut.size();
  strOut.resize(uiOld + uiLen + 1);  // snprintf also writes a terminator
  if (std::snprintf(strOut.data() + uiOld, uiLen + 1, csConvFormat, tValue) != iLen) return false;
  strOut.resize(uiOld + uiLen);
  return true;
}
#pragma GCC diagnostic pop

bool RenderSigned(std::string& strOut, const char* csConvFormat, KxLength eLength,
                  uint64_t uliBits) {
  switch (eLength) {
    case kLenNone:
      return Render(strOut, csConvFormat, static_cast<int>(uliBits));
    case kLenHH:
      return Render(strOut, csConvFormat, static_cast<int>(static_cast<signed char>(uliBits)));
    case kLenH:
      return Render(strOut, csConvFormat, static_cast<int>(static_cast<short>(uliBits)));
    case kLenL:
      return Render(strOut, csConvFormat, static_cast<long>(uliBits));
    case kLenLL:
      return Render(strOut, csConvFormat, static_cast<long long>(uliBits));
    case kLenZ:
      return Render(strOut, csConvFormat, static_cast<std::make_signed_t<size_t>>(uliBits));
    case kLenJ:
      return Render(strOut, csConvFormat, static_cast<intmax_t>(uliBits));
    case kLenT:
      return Render(strOut, csConvFormat, static_cast<ptrdiff_t>(uliBits));
    case kLenBigL:
      break;
  }
  return false;
}

bool RenderUnsigned(std::string& strOut, const char* csConvFormat, KxLength eLength,
                    uint64_t uliBits) {
  switch (eLength) {
    case kLenNone:
      return Render(strOut, csConvFormat, static_cast<unsigned>(uliBits));
    case kLenHH:
      return Render(strOut, csConvFormat,
                    static_cast<unsigned>(static_cast<unsigned char>(uliBits)));
    case kLenH:
      return Render(strOut, csConvFormat,
                    static_cast<unsigned>(static_cast<unsigned short>(uliBits)));
    case kLenL:
      return Render(strOut, csConvFormat, static_cast<unsigned long>(uliBits));
    case kLenLL:
      return Render(strOut, csConvFormat, static_cast<unsigned long long>(uliBits));
    case kLenZ:
      return Render(strOut, csConvFormat, static_cast<size_t>(uliBits));
    case kLenJ:
      return Render(strOut, csConvFormat, static_cast<uintmax_t>(uliBits));
    case kLenT:
      return Render(strOut, csConvFormat, static_cast<std::make_unsigned_t<ptrdiff_t>>(uliBits));
    case kLenBigL:
      break;
  }
  return false;
}

// Checks the argument against the conversion and renders it.
bool RenderArg(std::string& strOut, const KxConversion& conv, KxConvClass eClass,
               const KxArg& arg) {
  char acConvFormat[48];
  BuildConversionFormat(conv, acConvFormat);
  switch (eClass) {
    case kClsSigned:
      return IsInteger(arg) && RenderSigned(strOut, acConvFormat, conv.eLength, IntegerBits(arg));
    case kClsUnsigned:
      return IsInteger(arg) && RenderUnsigned(strOut, acConvFormat, conv.eLength, IntegerBits(arg));
    case kClsChar:
      return IsInteger(arg) && Render(strOut, acConvFormat, static_cast<int>(IntegerBits(arg)));
    case kClsText:
      if (arg.m_Kind != KxArg::kText) return false;
      return Render(strOut, acConvFormat, arg.m_csValue != nullptr ? arg.m_csValue : "(null)");
    case kClsPointer:
      if (arg.m_Kind == KxArg::kPointer) return Render(strOut, acConvFormat, arg.m_pValue);
      if (arg.m_Kind == KxArg::kText) {
        return Render(strOut, acConvFormat, static_cast<const void*>(arg.m_csValue));
      }
      return false;
    case kClsFloat:
      if (arg.m_Kind != KxArg::kDouble) return false;
      if (conv.eLength == kLenBigL) {
        return Render(strOut, acConvFormat, static_cast<long double>(arg.m_dValue));
      }
      return Render(strOut, acConvFormat, arg.m_dValue);
    case kClsBad:
      break;
  }
  return false;
}

bool FormatInto(std::string& strOut, const char* csFormat, std::span<const KxArg> args) {
  KxArgCursor cursor(args);
  const char* pCur = csFormat;
  while (*pCur != 0) {
    if (*pCur != '%') {
      const char* pPercent = std::strchr(pCur, '%');
      const size_t uiRun =
          pPercent != nullptr ? static_cast<size_t>(pPercent - pCur) : std::strlen(pCur);
      strOut.append(pCur, uiRun);
      pCur += uiRun;
      continue;
    }
    ++pCur;
    if (*pCur == '%') {
      strOut += '%';
      ++pCur;
      continue;
    }
    KxConversion conv;
    if (!ParseConversion(pCur, cursor, conv)) return false;
    const KxConvClass eClass = ClassOf(conv.cConv);
    if (!IsWellFormed(conv, eClass)) return false;
    const KxArg* pArg = cursor.Next();
    if (pArg == nullptr) return false;
    if (!RenderArg(strOut, conv, eClass, *pArg)) return false;
  }
  return true;
}

}  // namespace

bool KxFormatArgs(std::string& strOut, const char* csFormat, std::span<const KxArg> args) {
  strOut.clear();
  if (csFormat != nullptr && FormatInto(strOut, csFormat, args)) return true;
  strOut.clear();
  return false;
}
