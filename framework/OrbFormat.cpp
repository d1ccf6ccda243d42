// The "{0}"-style formatter of update texts and view-model messages.
#include <charconv>
#include <string>
#include <variant>

#include "contracts/framework/OrbKernelException.h"
#include "contracts/framework/OrbValues.h"
#include "contracts/kernel/KxText.h"

namespace Tarvex::Orb::DataDirectAcces {
namespace {

std::u16string Ascii(std::string_view csText) { return {csText.begin(), csText.end()}; }

template <class N>
std::u16string Number(N value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return Ascii(std::string_view(buffer, ec == std::errc{} ? end - buffer : 0));
}

// The text of one argument: nothing for null, True/False, decimal numbers
// (a floating value in its shortest exact form), a text as it stands.
std::u16string TextOf(const OrbFormatArg& arg) {
  struct {
    std::u16string operator()(std::monostate) const { return {}; }
    std::u16string operator()(bool b) const { return b ? u"True" : u"False"; }
    std::u16string operator()(int64_t n) const { return Number(n); }
    std::u16string operator()(uint64_t n) const { return Number(n); }
    std::u16string operator()(double d) const { return Number(d); }
    std::u16string operator()(const std::u16string& s) const { return s; }
  } visitor;
  return std::visit(visitor, arg.Get());
}

[[noreturn]] void Refuse(std::u16string_view csFormat, const char* why) {
  throw OrbKernelException(u"OrbFormat (\"" + std::u16string(csFormat) + u"\"):\r\n" +
                           KxText::Utf8ToUtf16(why));
}

}  // namespace

std::u16string OrbFormat(std::u16string_view csFormat, std::span<const OrbFormatArg> args) {
  std::u16string out;
  out.reserve(csFormat.size());
  for (size_t i = 0; i < csFormat.size(); ++i) {
    const char16_t c = csFormat[i];
    const bool doubled = i + 1 < csFormat.size() && csFormat[i + 1] == c;
    if (c == u'}') {
      if (!doubled) Refuse(csFormat, "a '}' closes no placeholder");
      out += c;
      ++i;
    } else if (c != u'{') {
      out += c;
    } else if (doubled) {
      out += c;
      ++i;
    } else {
      size_t n = 0;
      size_t j = i + 1;
      for (; j < csFormat.size() && csFormat[j] >= u'0' && csFormat[j] <= u'9' && n < 1000; ++j) {
        n = n * 10 + static_cast<size_t>(csFormat[j] - u'0');
      }
      if (j == i + 1 || j >= csFormat.size() || csFormat[j] != u'}') {
        Refuse(csFormat, "a '{' opens no placeholder");
      }
      if (n >= args.size()) Refuse(csFormat, "a placeholder has no argument");
      out += TextOf(args[n]);
      i = j;
    }
  }
  return out;
}

}  // namespace Tarvex::Orb::DataDirectAcces
