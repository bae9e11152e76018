// Owners of libxml2's encoding objects, shared by the component and the command-line host.
#pragma once

#include <libxml/encoding.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>

#include <memory>

namespace quillbox {

struct CharEncodingHandlerCloser {
  void operator()(xmlCharEncodingHandlerPtr handler) const { xmlCharEncCloseFunc(handler); }
};
using UniqueHandler = std::unique_ptr<xmlCharEncodingHandler, CharEncodingHandlerCloser>;

struct XmlBufferFree {
  void operator()(xmlBufferPtr buffer) const { xmlBufferFree(buffer); }
};
using UniqueBuffer = std::unique_ptr<xmlBuffer, XmlBufferFree>;

// Closing an output buffer closes its converter with it; xmlOutputBufferClose's result (whether
// everything was written) is for a caller that releases the buffer and closes it itself.
struct OutputBufferClose {
  void operator()(xmlOutputBufferPtr buffer) const { xmlOutputBufferClose(buffer); }
};
using UniqueOutputBuffer = std::unique_ptr<xmlOutputBuffer, OutputBufferClose>;

}  // namespace quillbox
