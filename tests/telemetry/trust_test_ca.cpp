// Adds the telemetry tests' certificate authority (a DER file) to the Root
// store of the Wine prefix the tests run in; Wine's certutil cannot.
// Usage: trust_test_ca.exe CA.der     Exit code 0 when the store holds it.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_test_ca CA.der\n");
    return 2;
  }
  HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open the certificate: %lu\n", GetLastError());
    return 1;
  }
  std::vector<BYTE> der(GetFileSize(file, nullptr));
  DWORD read = 0;
  BOOL ok = ReadFile(file, der.data(), static_cast<DWORD>(der.size()), &read, nullptr) && read == der.size();
  CloseHandle(file);
  if (!ok || der.empty()) return 1;
  // The machine's Root store: every account of the prefix trusts it.
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) {
    std::fprintf(stderr, "cannot open the Root store: %lu\n", GetLastError());
    return 1;
  }
  ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (!ok) std::fprintf(stderr, "cannot add the certificate: %lu\n", GetLastError());
  CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
