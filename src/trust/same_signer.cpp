#include "trust/same_signer.h"

#include <wincrypt.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/unique_handle.h"
#include "trust/certificate_table.h"
#include "trust/crypt_handles.h"

namespace stubframework::trust {
namespace {

// No stub comes near this; a larger file is not read into memory.
constexpr uint64_t kLargestStub = 64ull * 1024 * 1024;

bool ReadWhole(HANDLE file, std::vector<uint8_t>* bytes) {
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file, &size) || size.QuadPart <= 0 || static_cast<uint64_t>(size.QuadPart) > kLargestStub) {
    return false;
  }
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return ::ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) && read == bytes->size();
}

// The encoded certificate that signed the SignedData; empty when there is none.
std::vector<uint8_t> SignerCertificate(const uint8_t* signed_data, size_t size) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(size), const_cast<BYTE*>(signed_data)};
  DWORD encoding = 0;
  DWORD content = 0;
  DWORD format = 0;
  CertStore store;
  CryptMsg message;
  if (!::CryptQueryObject(CERT_QUERY_OBJECT_BLOB, &blob, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, &encoding, &content, &format, store.Receive(),
                          message.Receive(), nullptr)) {
    return {};
  }
  DWORD signers = 0;
  DWORD signers_size = sizeof(signers);
  // Exactly one signer: a second would be a second publisher to compare.
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &signers_size) || signers != 1) {
    return {};
  }
  DWORD info_size = 0;
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &info_size)) return {};
  std::vector<uint8_t> info(info_size);
  if (!::CryptMsgGetParam(message.Get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.data(), &info_size)) return {};
  CertContext certificate(::CertFindCertificateInStore(store.Get(), X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                       CERT_FIND_SUBJECT_CERT, info.data(), nullptr));
  if (!certificate) return {};
  const CERT_CONTEXT* context = certificate.Get();
  return std::vector<uint8_t>(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

std::vector<uint8_t> SignerOfImage(const std::vector<uint8_t>& image, TableVerdict* verdict) {
  const CertificateTable table = ReadCertificateTable(image.data(), image.size());
  *verdict = table.verdict;
  if (table.verdict != TableVerdict::kTight) return {};
  return SignerCertificate(image.data() + table.signature_offset, table.signature_size);
}

bool TrustedBySystem(HANDLE file, const std::wstring& path) {
  WINTRUST_FILE_INFO file_info = {};
  file_info.cbStruct = sizeof(file_info);
  file_info.pcwszFilePath = path.c_str();
  file_info.hFile = file;
  WINTRUST_DATA data = {};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file_info;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG verdict = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  return verdict == ERROR_SUCCESS;
}

}  // namespace

SignerCheck CheckSameSigner(HANDLE candidate, const std::wstring& candidate_path, const std::wstring& reference_path) {
  std::vector<uint8_t> image;
  if (!ReadWhole(candidate, &image)) return SignerCheck::kUnreadable;
  TableVerdict verdict = TableVerdict::kNotAnImage;
  const std::vector<uint8_t> signer = SignerOfImage(image, &verdict);
  if (verdict == TableVerdict::kUnsigned) return SignerCheck::kNotTrusted;
  if (verdict != TableVerdict::kTight) return SignerCheck::kLooseTable;
  if (!TrustedBySystem(candidate, candidate_path)) return SignerCheck::kNotTrusted;
  if (signer.empty()) return SignerCheck::kOtherSigner;

  base::UniqueHandle reference(::CreateFileW(reference_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::vector<uint8_t> own;
  if (!reference || !ReadWhole(reference.Get(), &own)) return SignerCheck::kUnreadable;
  TableVerdict own_verdict = TableVerdict::kNotAnImage;
  const std::vector<uint8_t> own_signer = SignerOfImage(own, &own_verdict);
  if (own_signer.empty()) return SignerCheck::kReferenceUnsigned;
  return own_signer == signer ? SignerCheck::kSameSigner : SignerCheck::kOtherSigner;
}

const wchar_t* SignerCheckProblem(SignerCheck check) {
  switch (check) {
    case SignerCheck::kUnreadable:
      return L"cannot be read";
    case SignerCheck::kLooseTable:
      return L"has bytes beside its signature in or after its certificate table";
    case SignerCheck::kNotTrusted:
      return L"has no valid Authenticode signature";
    case SignerCheck::kOtherSigner:
      return L"is signed by another certificate than the running stub";
    case SignerCheck::kReferenceUnsigned:
      return L"cannot be compared: the running stub is not signed";
    case SignerCheck::kSameSigner:
      break;
  }
  return L"";
}

}  // namespace stubframework::trust
