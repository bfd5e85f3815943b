#include "base/secured_folder.h"

#include <windows.h>
#include <aclapi.h>
#include <ntsecapi.h>

#include <vector>

#include "base/temp_folder.h"

namespace stubframework::base {

namespace {

constexpr int kCreateAttempts = 8;
constexpr DWORD kInherit = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

struct WellKnownSid {
  BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
  bool Make(WELL_KNOWN_SID_TYPE type) {
    DWORD size = sizeof(bytes);
    return ::CreateWellKnownSid(type, nullptr, bytes, &size) != FALSE;
  }
  PSID Get() { return bytes; }
};

// The token's user SID, copied out of the token information.
bool ProcessUserSid(std::vector<BYTE>* sid) {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  DWORD size = 0;
  ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size == 0 || size > 1024) return false;
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  DWORD length = ::GetLengthSid(user);
  sid->assign(static_cast<BYTE*>(user), static_cast<BYTE*>(user) + length);
  return true;
}

// The protected list and the owner, built once per folder.
class ProtectedDescriptor {
 public:
  bool Build() {
    if (!system_.Make(WinLocalSystemSid) || !admins_.Make(WinBuiltinAdministratorsSid)) return false;
    if (!ProcessUserSid(&user_)) return false;
    elevated_ = IsElevated();
    const DWORD user_access = elevated_ ? (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE) : FILE_ALL_ACCESS;
    DWORD size = sizeof(ACL) + 3 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE);
    acl_.assign(size, 0);
    PACL acl = reinterpret_cast<PACL>(acl_.data());
    if (!::InitializeAcl(acl, size, ACL_REVISION) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, system_.Get()) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, FILE_ALL_ACCESS, admins_.Get()) ||
        !::AddAccessAllowedAceEx(acl, ACL_REVISION, kInherit, user_access, user_.data())) {
      return false;
    }
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
      return false;
    }
    // An elevated token may name Administrators as owner; otherwise the
    // system gives the user, which is all such a process could claim anyway.
    if (elevated_) ::SetSecurityDescriptorOwner(&descriptor_, admins_.Get(), FALSE);
    return true;
  }

  SECURITY_ATTRIBUTES* Attributes() {
    attributes_ = {sizeof(attributes_), &descriptor_, FALSE};
    return &attributes_;
  }

  // Sets the list (and the owner, elevated) on an object open with WRITE_DAC
  // and WRITE_OWNER.
  bool Apply(HANDLE handle) {
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION;
    if (elevated_) what |= OWNER_SECURITY_INFORMATION;
    return ::SetSecurityInfo(handle, SE_FILE_OBJECT, what, elevated_ ? admins_.Get() : nullptr, nullptr,
                             reinterpret_cast<PACL>(acl_.data()), nullptr) == ERROR_SUCCESS;
  }

 private:
  WellKnownSid system_;
  WellKnownSid admins_;
  std::vector<BYTE> user_;
  std::vector<BYTE> acl_;
  SECURITY_DESCRIPTOR descriptor_ = {};
  SECURITY_ATTRIBUTES attributes_ = {};
  bool elevated_ = false;
};

std::wstring WithoutTrailingBackslash(std::wstring path) {
  while (path.size() > 3 && path.back() == L'\\') path.pop_back();
  return path;
}

// The path a handle reaches, without the "\\?\" the system puts in front.
std::wstring FinalPathOf(HANDLE handle) {
  wchar_t buffer[MAX_PATH * 2] = {};
  DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, ARRAYSIZE(buffer), FILE_NAME_NORMALIZED);
  if (length == 0 || length >= ARRAYSIZE(buffer)) return std::wstring();
  std::wstring path(buffer, length);
  if (path.compare(0, 4, L"\\\\?\\") == 0) path.erase(0, 4);
  return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

// Opened as itself, never through a link; attributes from the handle.
HANDLE OpenFolderHold(const std::wstring& path, DWORD share) {
  return ::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE, share,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

bool IsPlainFolderHandle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!::GetFileInformationByHandle(handle, &info)) return false;
  return (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool IsRunFolderName(const std::wstring& name) {
  const size_t prefix = ARRAYSIZE(kRunFolderPrefix) - 1;
  if (name.size() != prefix + 2 * kRunFolderRandomBytes || name.compare(0, prefix, kRunFolderPrefix) != 0) {
    return false;
  }
  for (size_t i = prefix; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f'))) return false;
  }
  return true;
}

std::wstring RandomHex(size_t bytes) {
  std::vector<unsigned char> random(bytes);
  if (bytes == 0 || !::RtlGenRandom(random.data(), static_cast<ULONG>(bytes))) return std::wstring();
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring text;
  for (unsigned char b : random) {
    text.push_back(kDigits[b >> 4]);
    text.push_back(kDigits[b & 15]);
  }
  return text;
}

bool IsElevated() {
  WellKnownSid admins;
  BOOL member = FALSE;
  return admins.Make(WinBuiltinAdministratorsSid) && ::CheckTokenMembership(nullptr, admins.Get(), &member) && member;
}

bool CreateProtectedFolder(const std::wstring& path) {
  ProtectedDescriptor descriptor;
  if (!descriptor.Build()) return false;
  const std::wstring folder = WithoutTrailingBackslash(path);
  if (!::CreateDirectoryW(folder.c_str(), descriptor.Attributes())) return false;
  // Set once more on the new folder: Wine ignores the descriptor given at
  // creation (Windows applies it there, and this changes nothing).
  UniqueHandle handle(::CreateFileW(folder.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (handle && descriptor.Apply(handle.Get())) return true;
  const DWORD error = handle ? ::GetLastError() : ERROR_ACCESS_DENIED;
  handle.Reset();
  ::RemoveDirectoryW(folder.c_str());
  ::SetLastError(error == ERROR_ALREADY_EXISTS ? ERROR_ACCESS_DENIED : error);
  return false;
}

namespace {

// Whether the handle is open on the object the path names itself, and not on
// what a link there leads to (Wine follows a Unix link to a file whatever the
// flags say, and shows no reparse point for it).
bool ReachesItself(HANDLE handle, const std::wstring& path) {
  wchar_t full[MAX_PATH * 2] = {};
  DWORD length = ::GetFullPathNameW(path.c_str(), ARRAYSIZE(full), full, nullptr);
  if (length == 0 || length >= ARRAYSIZE(full)) return false;
  wchar_t long_form[MAX_PATH * 2] = {};
  DWORD long_length = ::GetLongPathNameW(full, long_form, ARRAYSIZE(long_form));
  const std::wstring named = long_length > 0 && long_length < ARRAYSIZE(long_form)
                                 ? std::wstring(long_form, long_length)
                                 : std::wstring(full, length);
  return SamePath(FinalPathOf(handle), named);
}

bool IsLinkByName(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool PathHasReparsePoint(const std::wstring& path) {
  const std::wstring whole = WithoutTrailingBackslash(path);
  // From the first component after the drive ("C:\") down to the whole path.
  size_t next = whole.find(L'\\', 0);
  if (next == std::wstring::npos) return false;
  for (;;) {
    next = whole.find(L'\\', next + 1);
    const std::wstring part = next == std::wstring::npos ? whole : whole.substr(0, next);
    const DWORD attributes = ::GetFileAttributesW(part.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
    if (next == std::wstring::npos) return false;
  }
}

bool HasTrustedOwner(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  WellKnownSid system;
  WellKnownSid admins;
  bool trusted = owner != nullptr && system.Make(WinLocalSystemSid) && admins.Make(WinBuiltinAdministratorsSid) &&
                 (::EqualSid(owner, system.Get()) || ::EqualSid(owner, admins.Get()));
  if (!trusted && owner != nullptr && !IsElevated()) {
    std::vector<BYTE> user;
    trusted = ProcessUserSid(&user) && ::EqualSid(owner, user.data());
  }
  ::LocalFree(descriptor);
  return trusted;
}

bool OwnersAreKept(const std::wstring& parent) {
  // Unelevated, the owner is the user whatever the platform: HasTrustedOwner
  // takes that case itself.
  if (!IsElevated()) return true;
  const std::wstring random = RandomHex(kRunFolderRandomBytes);
  if (random.empty()) return true;
  const std::wstring probe = WithTrailingBackslash(parent) + kRunFolderPrefix + random;
  if (!CreateProtectedFolder(probe)) return true;
  bool kept = true;
  {
    UniqueHandle handle(OpenFolderHold(probe, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    kept = !handle || HasTrustedOwner(handle.Get());
  }
  ::RemoveDirectoryW(probe.c_str());
  return kept;
}

bool HasTrustedOwnerIn(HANDLE handle, const std::wstring& parent) {
  return HasTrustedOwner(handle) || !OwnersAreKept(parent);
}

FolderCheck EnsureProtectedFolder(const std::wstring& root, const std::wstring& folder) {
  const std::wstring base = WithoutTrailingBackslash(root);
  const std::wstring whole = WithoutTrailingBackslash(folder);
  if (base.empty() || whole.size() <= base.size() + 1 || whole[base.size()] != L'\\' ||
      !SamePath(whole.substr(0, base.size()), base)) {
    return FolderCheck::kFailed;
  }
  if (PathHasReparsePoint(base)) return FolderCheck::kReparsePoint;
  size_t next = base.size();
  while (next != std::wstring::npos) {
    next = whole.find(L'\\', next + 1);
    const std::wstring part = next == std::wstring::npos ? whole : whole.substr(0, next);
    if (part.back() == L'\\') return FolderCheck::kFailed;  // an empty component
    const bool created = CreateProtectedFolder(part);
    if (!created && ::GetLastError() != ERROR_ALREADY_EXISTS) return FolderCheck::kFailed;
    // By name as well as on the handle: Wine opens a Unix link's target even
    // when asked not to follow it.
    if (IsLinkByName(part)) return FolderCheck::kReparsePoint;
    UniqueHandle hold(OpenFolderHold(part, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    if (!hold) return FolderCheck::kFailed;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!::GetFileInformationByHandle(hold.Get(), &info)) return FolderCheck::kFailed;
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderCheck::kReparsePoint;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return FolderCheck::kFailed;
    if (!created && !HasTrustedOwnerIn(hold.Get(), base)) return FolderCheck::kUntrustedOwner;
  }
  return FolderCheck::kOk;
}

HANDLE CreateFileNoFollow(const std::wstring& path, DWORD access, DWORD share) {
  // By name first as well (see EnsureProtectedFolder); the handle decides on Windows.
  if (IsLinkByName(path)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  UniqueHandle file(::CreateFileW(path.c_str(), access | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info = {};
  // A link, a folder, or a second name of someone else's file is not written.
  if (!::GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      info.nNumberOfLinks > 1 || !ReachesItself(file.Get(), path)) {
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  if ((access & GENERIC_WRITE) != 0 && !::SetEndOfFile(file.Get())) return INVALID_HANDLE_VALUE;
  return file.Release();
}

bool CopyFileNoFollow(const std::wstring& source, const std::wstring& target) {
  UniqueHandle from(::CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!from) return false;
  UniqueHandle to(CreateFileNoFollow(target, GENERIC_WRITE, 0));
  if (!to) return false;
  std::vector<char> piece(64 * 1024);
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(from.Get(), piece.data(), static_cast<DWORD>(piece.size()), &read, nullptr)) return false;
    if (read == 0) return true;
    DWORD written = 0;
    if (!::WriteFile(to.Get(), piece.data(), read, &written, nullptr) || written != read) return false;
  }
}

bool RunFolder::Create(const std::wstring& parent) {
  if (!path_.empty() || parent.empty() || PathHasReparsePoint(parent)) return false;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::wstring random = RandomHex(kRunFolderRandomBytes);
    if (random.empty()) return false;
    const std::wstring folder = WithTrailingBackslash(parent) + kRunFolderPrefix + random;
    if (!CreateProtectedFolder(folder)) {
      if (::GetLastError() == ERROR_ALREADY_EXISTS) continue;
      return false;
    }
    // No delete sharing: while held, nobody renames it away or removes it.
    hold_.Reset(OpenFolderHold(folder, FILE_SHARE_READ | FILE_SHARE_WRITE));
    path_ = folder + L"\\";
    if (hold_ && IsPlainFolderHandle(hold_.Get()) && Verify()) return true;
    hold_.Reset();
    path_.clear();
    ::RemoveDirectoryW(folder.c_str());
    return false;
  }
  return false;
}

bool RunFolder::Verify() const {
  if (!hold_ || path_.empty() || PathHasReparsePoint(path_)) return false;
  return SamePath(FinalPathOf(hold_.Get()), WithoutTrailingBackslash(path_));
}

bool RunFolder::Remove() {
  if (path_.empty()) return false;
  hold_.Reset();
  const bool removed = DeleteFolderRecursive(path_);
  path_.clear();
  return removed;
}

}  // namespace stubframework::base
