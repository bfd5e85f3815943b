// Download results that another attempt cannot change, named the same way
// whichever path (the engine's WinINet requests or the URL moniker) met them.
#pragma once

namespace stubframework::downloader {

// INET_E_INVALID_CERTIFICATE: the one result of a certificate the system
// refuses (expired, untrusted, another name, revoked, a failed handshake).
inline constexpr long kResultCertificateRefused = static_cast<long>(0x800C0019);

// Whether `result` (an HRESULT, or a WinINet error made one) is the system
// refusing the server's certificate or the TLS handshake.
bool IsCertificateRefusal(long result);

// The result a caller reports: every certificate refusal becomes
// kResultCertificateRefused; anything else passes unchanged.
long NormalizeResult(long result);

// Certificate refusals, redirect failures and a target that is a link:
// retrying repeats them.
bool IsFinalResult(long result);

}  // namespace stubframework::downloader
