// The machine identifier on disk: "UniqueId\data" under the all-users
// application-data folder, DPAPI-protected for the local machine so that
// every account on the computer reads the same identifier.
#pragma once

#include <windows.h>

#include <string>

#include "telemetry/machine_id.h"

namespace stubframework::telemetry {

// The store's path, creating the folders on the way; empty when the
// application-data folder cannot be found.
std::wstring MachineIdStorePath();
// The same under the given folder: "UniqueId" is made with the protected
// access list, or, when it exists, used only when it is no link and belongs
// to SYSTEM or Administrators; empty otherwise (nothing is stored then).
std::wstring MachineIdStorePathIn(const std::wstring& common_app_data);

// Opens a file, retrying every 5 ms while another handle's sharing refuses it,
// for at most 3000 ms from the first attempt; any other error fails at once.
// CREATE_ALWAYS truncates only a plain file reached through no link and with
// no second name; other dispositions do not follow a link at the last name.
HANDLE OpenStoreFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition);

class DpapiIdStore final : public IdStore {
 public:
  explicit DpapiIdStore(std::wstring path) : path_(std::move(path)) {}

  // The unprotected text; false when the file is missing, empty, larger than
  // any identifier's blob, or does not unprotect.
  bool Read(std::wstring* text) override;
  // Protects the text's UTF-16LE bytes and replaces the file; a short write
  // deletes the file.
  bool Write(const std::wstring& text) override;

 private:
  std::wstring path_;
};

}  // namespace stubframework::telemetry
