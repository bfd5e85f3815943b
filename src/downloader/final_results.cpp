#include "downloader/final_results.h"

#include "downloader/result_codes.h"

namespace stubframework::downloader {
namespace {

// WinINet's certificate and secure-channel errors.
constexpr long kCertificateErrors[] = {
    12037,  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    12038,  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    12045,  // ERROR_INTERNET_INVALID_CA
    12055,  // ERROR_INTERNET_SEC_CERT_ERRORS
    12056,  // ERROR_INTERNET_SEC_CERT_NO_REV
    12057,  // ERROR_INTERNET_SEC_CERT_REV_FAILED
    12157,  // ERROR_INTERNET_SECURITY_CHANNEL_ERROR
    12169,  // ERROR_INTERNET_SEC_INVALID_CERT
    12170,  // ERROR_INTERNET_SEC_CERT_REVOKED
};

constexpr long kSecurityProblem = static_cast<long>(0x800C000E);  // INET_E_SECURITY_PROBLEM

}  // namespace

bool IsCertificateRefusal(long result) {
  if (result == kResultCertificateRefused || result == kSecurityProblem) return true;
  for (long error : kCertificateErrors) {
    if (result == error || result == ResultFromWin32(error)) return true;
  }
  return false;
}

long NormalizeResult(long result) { return IsCertificateRefusal(result) ? kResultCertificateRefused : result; }

bool IsFinalResult(long result) {
  return result == kResultRedirectFailed || result == kResultTargetIsLink || IsCertificateRefusal(result);
}

}  // namespace stubframework::downloader
