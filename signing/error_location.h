// Where the component's own reports through the signature library's error channel say they come
// from. xmlsec's XMLSEC_ERRORS_HERE names __FILE__, which is the source path on the machine that
// built the module; the report reaches ErrorDesc and from there the user, so it names the
// component instead (and the function, which is stable too).
#pragma once

#define QUILLBOX_ERRORS_HERE "quillbox", __LINE__, __func__
