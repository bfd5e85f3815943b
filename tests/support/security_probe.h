// Whether the platform keeps the security descriptors set on files. Windows
// does; Wine, on a file system where it keeps none (as measured on ext4 here),
// derives one from the Unix mode: the user owns everything, and the list is
// the user's, SYSTEM's and Everyone's bits. Tests of stored access lists and
// owners ask first and skip with this reason when the platform cannot keep
// them; the refusals that depend on links run everywhere.
#pragma once

#include <windows.h>
#include <aclapi.h>

#include <string>

namespace testsupport {

inline constexpr char kNoStoredSecurity[] =
    "this platform keeps no security descriptor for files (Wine here derives owner and list from the Unix mode): "
    "only Windows can show the stored list and owner";

// Sets a protected list and the Users group as owner on a scratch folder of
// its own under `parent` and reads both back.
inline bool PlatformKeepsFileSecurity(const std::wstring& parent) {
  const std::wstring scratch = parent + L"security_probe";
  ::RemoveDirectoryW(scratch.c_str());
  if (!::CreateDirectoryW(scratch.c_str(), nullptr)) return false;
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof(users);
  ::CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &size);
  BYTE acl_bytes[256];
  PACL acl = reinterpret_cast<PACL>(acl_bytes);
  ::InitializeAcl(acl, sizeof(acl_bytes), ACL_REVISION);
  ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, users);
  std::wstring name = scratch;
  ::SetNamedSecurityInfoW(&name[0], SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                          users, nullptr, acl, nullptr);
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  bool kept = false;
  if (::GetNamedSecurityInfoW(scratch.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    kept = owner != nullptr && ::EqualSid(owner, users) && (control & SE_DACL_PROTECTED) != 0;
    ::LocalFree(descriptor);
  }
  ::RemoveDirectoryW(scratch.c_str());
  return kept;
}

}  // namespace testsupport
