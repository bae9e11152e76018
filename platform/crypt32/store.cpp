// The personal store "MY": the certificates of the NSS database that have a private key, valid
// ones first (newest first), then those not yet valid, then the expired ones, ties by nickname
// and encoding, so that "the first that matches" is the certificate a user means
// (store_listing.cpp).
#include "store_listing.h"
#include "objects.h"
#include "nss_session.h"
#include "common/boundary.h"
#include "shared/case_folding.h"


#include <algorithm>
#include <new>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace qb::platform {
namespace {

// `needle` is the search text of a string search, upper-cased once for the whole search: the text
// comes from the caller (a page's CertSubject) and may be long, so it is not folded again for
// every certificate.
bool Matches(CertContext& context, DWORD findType, const std::u16string& needle) {
  switch (findType) {
    case CERT_FIND_ANY:
      return true;
    case CERT_FIND_SUBJECT_STR_W:
    case CERT_FIND_ISSUER_STR_W: {
      const std::u16string& text =
          findType == CERT_FIND_SUBJECT_STR_W ? context.subjectSearchText : context.issuerSearchText;
      return text.find(needle) != std::u16string::npos;
    }
    default:
      return false;
  }
}

// The position after `previous` in `store` (0 without one); releases `previous`.
std::optional<std::size_t> StartAfter(CertStore* store, PCCERT_CONTEXT previous) {
  if (previous == nullptr) return 0;
  CertContext* context = ContextFrom(previous);
  if (context == nullptr) return std::nullopt;
  const bool sameStore = context->store == store;
  const std::size_t next = context->index + 1;
  ReleaseContext(context);
  if (!sameStore) return std::nullopt;
  return next;
}

// Closes the store: its handle's reference and those of the certificates it holds go.
void CloseStore(CertStore* store) {
  store->open = false;
  std::vector<CertContext*> held;
  held.swap(store->certificates);
  for (CertContext* context : held) ReleaseContext(context);
  ReleaseStore(store);
}

// Owns a store while it is filled, so that a failure part-way lets go of what was made.
struct StoreCloser {
  void operator()(CertStore* store) const { CloseStore(store); }
};

}  // namespace

std::u16string UpperCased(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& unit : out) {
    if (unit >= 0xD800 && unit <= 0xDFFF) continue;  // surrogate halves keep their case
    // A unit whose capital lies outside the BMP (none in Unicode today) keeps its own case.
    if (const char32_t upper = UnicodeUpper(unit); upper <= 0xFFFF) unit = static_cast<char16_t>(upper);
  }
  return out;
}

CertStore* StoreFrom(HCERTSTORE store) {
  auto* s = static_cast<CertStore*>(store);
  return s != nullptr && s->magic == kStoreMagic ? s : nullptr;
}

void ReleaseStore(CertStore* store) {
  if (store->references.fetch_sub(1) != 1) return;
  store->magic = 0;
  delete store;
}

}  // namespace qb::platform

using namespace qb::platform;

extern "C" {

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY, LPCSTR storeName) {
  return quillbox::LastErrorBoundary<HCERTSTORE>(nullptr, [&]() -> HCERTSTORE {
    // Only the personal store exists here; the trust stores of Windows have no place in a signer.
    if (storeName == nullptr || !EqualsIgnoringAsciiCase(storeName, "MY")) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    if (nss::OpenSession(false) != nss::SessionKind::Database) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    // The session can have been closed on another thread since.
    const auto certificates = PersonalCertificates();
    if (!certificates) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    std::unique_ptr<CertStore, StoreCloser> store(new CertStore);
    store->magic = kStoreMagic;
    store->certificates.reserve(certificates->size());  // so that adding a context cannot throw
    for (const NssCertificateRef& certificate : *certificates)
      store->certificates.push_back(MakeContext(certificate.get(), store.get(), store->certificates.size()));
    return store.release();
  });
}

BOOL WINAPI CertCloseStore(HCERTSTORE handle, DWORD) {
  CertStore* store = StoreFrom(handle);
  if (store == nullptr || !store->open) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  CloseStore(store);
  return TRUE;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE handle, PCCERT_CONTEXT previous) {
  return CertFindCertificateInStore(handle, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr, previous);
}

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE handle, DWORD, DWORD, DWORD findType,
                                                 const void* findPara, PCCERT_CONTEXT previous) {
  CertStore* store = StoreFrom(handle);
  if (store == nullptr || !store->open) {
    CertFreeCertificateContext(previous);
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (findType != CERT_FIND_ANY && findType != CERT_FIND_SUBJECT_STR_W && findType != CERT_FIND_ISSUER_STR_W) {
    CertFreeCertificateContext(previous);
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  const auto start = StartAfter(store, previous);
  if (!start) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  std::u16string needle;
  if (findType != CERT_FIND_ANY) {
    const auto* wanted = static_cast<LPCWSTR>(findPara);
    // crypt32's searches report HRESULTs as their last errors.
    const bool folded = quillbox::LastErrorBoundary(false, [&] {
      needle = UpperCased(wanted != nullptr ? std::u16string_view(wanted) : std::u16string_view());
      return true;
    }, static_cast<DWORD>(E_OUTOFMEMORY));
    if (!folded) return nullptr;
  }
  for (std::size_t i = *start; i < store->certificates.size(); ++i) {
    CertContext* context = store->certificates[i];
    if (Matches(*context, findType, needle)) {
      context->references.fetch_add(1);
      return &context->context;
    }
  }
  SetLastError(static_cast<DWORD>(CRYPT_E_NOT_FOUND));
  return nullptr;
}

DWORD WINAPI CertNameToStrA(DWORD encoding, PCERT_NAME_BLOB name, DWORD strType, LPSTR text, DWORD size) {
  // The answer is always at least the terminator, as crypt32's is.
  std::string narrow;
  const DWORD form = strType & 0xFFFF;
  const bool knownForm = form == CERT_SIMPLE_NAME_STR || form == CERT_OID_NAME_STR || form == CERT_X500_NAME_STR;
  // A name that cannot be rendered for want of memory answers as an empty one, with the reason.
  quillbox::LastErrorBoundary(false, [&] {
    if (name != nullptr && (encoding & X509_ASN_ENCODING) != 0 && knownForm) {
      if (const auto decoded = DecodeName(name->pbData, name->cbData)) {
        const std::u16string wide = Utf8ToUtf16(RenderName(*decoded, strType));
        if (!wide.empty()) {
          const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                                nullptr, nullptr);
          if (bytes > 0) {
            narrow.resize(static_cast<std::size_t>(bytes));
            WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), narrow.data(), bytes, nullptr,
                                nullptr);
          }
        }
      }
    }
    return true;
  });
  const DWORD needed = static_cast<DWORD>(narrow.size() + 1);
  if (text == nullptr || size == 0) return needed;
  const DWORD copied = std::min<DWORD>(size - 1, static_cast<DWORD>(narrow.size()));
  std::memcpy(text, narrow.data(), copied);
  text[copied] = '\0';
  return copied + 1;
}

}  // extern "C"
