#include "telemetry/machine_id_store.h"

#include <shlobj.h>
#include <wincrypt.h>

#include <vector>

#include "base/secured_folder.h"
#include "base/unique_handle.h"

namespace stubframework::telemetry {

namespace {

// The fixed optional entropy of the protected blob.
constexpr char kEntropy[] = "machine";
constexpr DWORD kEntropyBytes = sizeof(kEntropy) - 1;
static_assert(kEntropyBytes == 7, "seven bytes of entropy");

constexpr DWORD kReadPieceBytes = 64;
// A protected identifier takes a few hundred bytes; a larger file is not one.
constexpr size_t kMaxStoreBytes = 16 * 1024;

constexpr DWORD kSharingRetryMs = 3000;
constexpr DWORD kSharingPauseMs = 5;

DATA_BLOB Entropy() {
  DATA_BLOB blob;
  blob.cbData = kEntropyBytes;
  blob.pbData = reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy));
  return blob;
}

// Frees what CryptProtectData and CryptUnprotectData allocate.
struct LocalBlob {
  DATA_BLOB blob = {};
  ~LocalBlob() {
    if (blob.pbData != nullptr) ::LocalFree(blob.pbData);
  }
};

}  // namespace

std::wstring MachineIdStorePath() {
  wchar_t folder[MAX_PATH] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT,
                                folder))) {
    return std::wstring();
  }
  return MachineIdStorePathIn(folder);
}

std::wstring MachineIdStorePathIn(const std::wstring& common_app_data) {
  if (common_app_data.empty()) return std::wstring();
  std::wstring root = common_app_data;
  while (root.size() > 3 && root.back() == L'\\') root.pop_back();
  const std::wstring folder = root + L"\\UniqueId";
  // Every account may make folders here: a "UniqueId" someone else made, or
  // a link, would let the elevated stub write where they choose.
  if (base::EnsureProtectedFolder(root, folder) != base::FolderCheck::kOk) return std::wstring();
  return folder + L"\\data";
}

HANDLE OpenStoreFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    // Written through no link and no second name; read as it stands.
    HANDLE file = disposition == CREATE_ALWAYS
                      ? base::CreateFileNoFollow(path, access, share)
                      : ::CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    if (::GetLastError() != ERROR_SHARING_VIOLATION || ::GetTickCount() - start >= kSharingRetryMs) {
      return INVALID_HANDLE_VALUE;
    }
    ::Sleep(kSharingPauseMs);
  }
}

bool DpapiIdStore::Read(std::wstring* text) {
  if (path_.empty()) return false;
  std::vector<BYTE> blob;
  {
    base::UniqueHandle file(OpenStoreFile(path_, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file) return false;
    BYTE piece[kReadPieceBytes];
    DWORD read = 0;
    while (::ReadFile(file.Get(), piece, sizeof(piece), &read, nullptr) && read > 0) {
      if (blob.size() + read > kMaxStoreBytes) return false;
      blob.insert(blob.end(), piece, piece + read);
    }
  }
  if (blob.empty()) return false;
  DATA_BLOB in = {static_cast<DWORD>(blob.size()), blob.data()};
  DATA_BLOB entropy = Entropy();
  LocalBlob out;
  if (!::CryptUnprotectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out.blob)) {
    return false;
  }
  text->assign(reinterpret_cast<const wchar_t*>(out.blob.pbData), out.blob.cbData / sizeof(wchar_t));
  return true;
}

bool DpapiIdStore::Write(const std::wstring& text) {
  if (path_.empty()) return false;
  DATA_BLOB in = {static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                  reinterpret_cast<BYTE*>(const_cast<wchar_t*>(text.data()))};
  DATA_BLOB entropy = Entropy();
  LocalBlob out;
  if (!::CryptProtectData(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE, &out.blob)) {
    return false;
  }
  DWORD written = 0;
  {
    base::UniqueHandle file(OpenStoreFile(path_, GENERIC_WRITE, 0, CREATE_ALWAYS));
    if (!file) return false;
    ::WriteFile(file.Get(), out.blob.pbData, out.blob.cbData, &written, nullptr);
  }
  if (written < out.blob.cbData) {
    ::DeleteFileW(path_.c_str());
    return false;
  }
  return true;
}

}  // namespace stubframework::telemetry
