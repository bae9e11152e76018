// A first look at the Signature object: sets its properties and reads them back, the way a
// page's script would. The quillbox command replaces this with the real script host.
#include "component/bstr.h"
#include "component/signature.h"

#include <cstdio>
#include <string>

namespace {

std::string Narrow(BSTR text) {
  quillbox::UniqueBstr owned(text);
  const int units = static_cast<int>(SysStringLen(text));
  if (units == 0) return "";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

int main() {
  quillbox::Signature signature;
  quillbox::UniqueBstr doc(SysAllocString(u"<form><field>Žiga Čebašek</field></form>"));
  quillbox::UniqueBstr serial(SysAllocString(u"013cff0a"));
  signature.put_XmlDoc(doc.get());
  signature.put_CertSerial(serial.get());
  signature.put_Advanced(VARIANT_TRUE);

  BSTR value = nullptr;
  signature.get_Version(&value);
  std::printf("Version:    %s\n", Narrow(value).c_str());
  signature.get_XmlDoc(&value);
  std::printf("XmlDoc:     %s\n", Narrow(value).c_str());
  signature.get_CertSerial(&value);
  std::printf("CertSerial: %s (upper-cased by the object)\n", Narrow(value).c_str());
  LONG error = 0;
  signature.get_ErrorNo(&error);
  std::printf("ErrorNo:    %d\n", error);
  return 0;
}
