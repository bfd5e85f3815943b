// Folders the elevated stub works in. A folder it makes is created fresh under
// a random name with an explicit, protected access list: SYSTEM and
// Administrators may write, the running user may only read (a process that is
// not elevated also gives itself full access: it could write there anyway, and
// would otherwise lock itself out). A folder that exists already is used only
// when no component of its path is a link and its owner is SYSTEM or
// Administrators.
#pragma once

#include <windows.h>

#include <string>

#include "base/unique_handle.h"

namespace stubframework::base {

// A run's folders are named this prefix and 32 hexadecimal digits, so that a
// later run can recognise what a killed one left.
inline constexpr wchar_t kRunFolderPrefix[] = L"sfrun-";
inline constexpr size_t kRunFolderRandomBytes = 16;

// Whether name (one component) is prefix + exactly 32 lowercase hex digits.
bool IsRunFolderName(const std::wstring& name);

// `bytes` bytes of the system's random generator in lowercase hex; empty when
// the generator fails (never the clock instead).
std::wstring RandomHex(size_t bytes);

// Creates the one folder `path` (its parent exists) with the protected access
// list. False when it exists already or cannot be made.
bool CreateProtectedFolder(const std::wstring& path);

// Whether any existing component of the absolute path, from the drive down,
// is a reparse point (junction, symbolic link, mount point).
bool PathHasReparsePoint(const std::wstring& path);

// Whether the object open as `handle` (with READ_CONTROL) is owned by SYSTEM
// or Administrators, or, in a process that is not elevated, by its own user.
bool HasTrustedOwner(HANDLE handle);

// Whether a folder this process makes under `parent` keeps the owner it was
// given. Windows always does; Wine, on a file system where it keeps no
// security descriptors, reports the user as every file's owner, and an owner
// check there would refuse the stub's own folders.
bool OwnersAreKept(const std::wstring& parent);

// HasTrustedOwner, or any owner where `parent`'s file system keeps none.
bool HasTrustedOwnerIn(HANDLE handle, const std::wstring& parent);

// Whether this process holds the Administrators group enabled (elevated).
bool IsElevated();

enum class FolderCheck {
  kOk,
  kReparsePoint,    // a component of the path is a link
  kUntrustedOwner,  // an existing component below the root belongs to someone else
  kFailed,          // could not be created or examined
};

// Makes `folder` (absolute, below `root`) and each missing folder between
// them with the protected access list. `root` itself must exist; it and every
// component must be no link, and each component below root that already
// exists must have a trusted owner.
FolderCheck EnsureProtectedFolder(const std::wstring& root, const std::wstring& folder);

// Opens an existing file for writing without following a link at its last
// component and without replacing it through one: CREATE_ALWAYS semantics on
// a regular file; invalid when the name is a link or a folder.
HANDLE CreateFileNoFollow(const std::wstring& path, DWORD access, DWORD share);

// Copies source over target, writing target through CreateFileNoFollow.
// False when target is a link, a folder or a second name, or the copy fails.
bool CopyFileNoFollow(const std::wstring& source, const std::wstring& target);

// One fresh protected folder under `parent` for a run. The folder is held
// open without delete sharing while the object lives, so it cannot be renamed
// away and replaced by someone else's folder or a link.
class RunFolder {
 public:
  RunFolder() = default;
  ~RunFolder() = default;
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  // parent ends with a backslash. False when no folder could be made safely.
  bool Create(const std::wstring& parent);
  // Whether the held folder is still at path() with no link on the way.
  bool Verify() const;
  // Releases the hold and deletes the folder with what it holds.
  bool Remove();

  // With a trailing backslash; empty until Create succeeds.
  const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
  UniqueHandle hold_;
};

}  // namespace stubframework::base
