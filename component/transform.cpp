// Transform: the object's XmlDoc and a page's stylesheet through the Transform road, on a thread
// with a stack deep enough for the documents the parser takes.
#include "component/error_report.h"
#include "component/member_boundary.h"
#include "component/signature.h"
#include "xml/large_stack.h"
#include "xml/xml_library_use.h"
#include "xml/transform_document.h"

namespace quillbox {

HRESULT Signature::Transform(BSTR xsl, BSTR* tml) {
  UniqueBstr result(SysAllocStringLen(OLESTR(""), 0));
  MethodBoundary(Error::TransformingXml, [&] {
    const XmlLibraryUse libraries;
    ClearErrorState();
    Result<UniqueBstr> transformed = Error::TransformingXml;
    RunWithLargeStack([&] { transformed = TransformDocument(XmlDoc_, xsl); });
    if (transformed)
      result = std::move(transformed).value();
    else
      SetError(transformed.error());
  });
  if (tml != nullptr) *tml = result.release();
  return S_OK;
}

}  // namespace quillbox
