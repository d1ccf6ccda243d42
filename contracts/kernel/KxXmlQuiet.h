// For the two XML readers on libxml2 (the kernel's import, the LENEX
// reader): libxml2 reports a few errors (an input encoding that does not
// convert) only through its generic handler, which prints them on stderr.
// While one of them parses, a KxQuietXmlErrors in scope drops them, as the
// reader's refusal says what went wrong; the handler the thread had before
// comes back when it goes out of scope.
#pragma once

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

class KxQuietXmlErrors {
 public:
  KxQuietXmlErrors() : m_pContext(xmlGenericErrorContext), m_Handler(xmlGenericError) {
    xmlSetGenericErrorFunc(nullptr, Ignore);
  }
  ~KxQuietXmlErrors() { xmlSetGenericErrorFunc(m_pContext, m_Handler); }
  KxQuietXmlErrors(const KxQuietXmlErrors&) = delete;
  KxQuietXmlErrors& operator=(const KxQuietXmlErrors&) = delete;

 private:
  static void Ignore(void*, const char*, ...) {}
  void* m_pContext;
  xmlGenericErrorFunc m_Handler;
};
