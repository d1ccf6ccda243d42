#include "kernel/KxXml.h"

bool KxExportXml(KxLiveFile&, size_t, const std::string&, std::string& csWhy) {
  csWhy = "XML export is not available yet";
  return false;
}

bool KxImportXml(KxLiveFile&, const std::string&, std::string& csWhy) {
  csWhy = "XML import is not available yet";
  return false;
}
