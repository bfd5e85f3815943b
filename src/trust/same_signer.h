// Whether a newer stub may replace the running one: it carries a valid
// Authenticode signature (WinVerifyTrust, no UI, no revocation check), its
// certificate table holds that signature and nothing else, and its signer
// certificate is the running stub's own, byte for byte. WinVerifyTrust alone
// is not enough: Wine's passes any signer and any table, and on Windows any
// trusted publisher would pass.
#pragma once

#include <windows.h>

#include <string>

namespace stubframework::trust {

enum class SignerCheck {
  kSameSigner,
  kUnreadable,     // either file cannot be read (or is too large to be a stub)
  kLooseTable,     // no PE image, or bytes beside the signature in or after its table
  kNotTrusted,     // unsigned, or WinVerifyTrust refused it (a changed byte, say)
  kOtherSigner,    // signed, but not by the running stub's certificate
  kReferenceUnsigned,  // the running stub has no signature to compare with
};

// `candidate` is open for reading (and held against writing by the caller);
// `candidate_path` names the same file; `reference_path` is the running stub.
SignerCheck CheckSameSigner(HANDLE candidate, const std::wstring& candidate_path, const std::wstring& reference_path);

// The log text of each outcome but kSameSigner.
const wchar_t* SignerCheckProblem(SignerCheck check);

}  // namespace stubframework::trust
