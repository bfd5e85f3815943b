#include "app/finishing_word.h"

#include <cstring>
#include <vector>

#include "base/unique_handle.h"

namespace stubframework::app {

namespace {

constexpr char kTag[4] = {'S', 'F', 'W', '1'};
constexpr size_t kHeaderBytes = sizeof(kTag) + 3 * sizeof(DWORD);
// A path Windows can name at all.
constexpr DWORD kMaxTargetChars = 32767;
constexpr size_t kMaxWordBytes = kHeaderBytes + kMaxTargetChars * sizeof(wchar_t);

void PutNumber(std::string* bytes, DWORD value) { bytes->append(reinterpret_cast<const char*>(&value), sizeof(value)); }

DWORD NumberAt(const std::string& bytes, size_t offset) {
  DWORD value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

}  // namespace

std::string EncodeFinishingWord(const FinishingWord& word) {
  std::string bytes(kTag, sizeof(kTag));
  PutNumber(&bytes, word.exit_code);
  PutNumber(&bytes, word.parent_id);
  PutNumber(&bytes, static_cast<DWORD>(word.target.size()));
  bytes.append(reinterpret_cast<const char*>(word.target.data()), word.target.size() * sizeof(wchar_t));
  return bytes;
}

bool DecodeFinishingWord(const std::string& bytes, FinishingWord* word) {
  if (bytes.size() < kHeaderBytes || bytes.size() > kMaxWordBytes ||
      bytes.compare(0, sizeof(kTag), kTag, sizeof(kTag)) != 0) {
    return false;
  }
  const DWORD chars = NumberAt(bytes, sizeof(kTag) + 2 * sizeof(DWORD));
  if (chars == 0 || chars > kMaxTargetChars || bytes.size() != kHeaderBytes + size_t{chars} * sizeof(wchar_t)) {
    return false;
  }
  word->exit_code = NumberAt(bytes, sizeof(kTag));
  word->parent_id = NumberAt(bytes, sizeof(kTag) + sizeof(DWORD));
  word->target.assign(chars, L'\0');
  std::memcpy(&word->target[0], bytes.data() + kHeaderBytes, chars * sizeof(wchar_t));
  return word->target.find(L'\0') == std::wstring::npos;
}

bool WordMatches(const FinishingWord& word, DWORD exit_code, DWORD parent_id, const std::wstring& target) {
  return word.exit_code == exit_code && word.parent_id == parent_id && word.target == target;
}

base::UniqueHandle StartWithFinishingWord(const std::wstring& application, const std::wstring& folder,
                            const std::wstring& command_line, const FinishingWord& word) {
  const std::string bytes = EncodeFinishingWord(word);
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  base::UniqueHandle read_end;
  base::UniqueHandle write_end;
  // The whole word fits the pipe's buffer: it is written before the child starts.
  if (!::CreatePipe(read_end.Receive(), write_end.Receive(), &inheritable, static_cast<DWORD>(bytes.size()))) {
    return base::UniqueHandle();
  }
  ::SetHandleInformation(write_end.Get(), HANDLE_FLAG_INHERIT, 0);
  DWORD written = 0;
  if (!::WriteFile(write_end.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
      written != bytes.size()) {
    return base::UniqueHandle();
  }
  write_end.Reset();  // the reader sees the end after the word

  std::vector<wchar_t> writable(command_line.begin(), command_line.end());
  writable.push_back(L'\0');
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = read_end.Get();
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(application.c_str(), writable.data(), nullptr, nullptr, TRUE, 0, nullptr, folder.c_str(),
                        &startup, &info)) {
    return base::UniqueHandle();
  }
  ::CloseHandle(info.hThread);
  return base::UniqueHandle(info.hProcess);
}

bool ReadOwnFinishingWord(FinishingWord* word) {
  HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE || ::GetFileType(input) != FILE_TYPE_PIPE) return false;
  // The launcher wrote the whole word before the process started: read what
  // is there and never wait for more (an inherited pipe may be anyone's).
  DWORD available = 0;
  if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available < kHeaderBytes ||
      available > kMaxWordBytes) {
    return false;
  }
  std::string bytes(available, '\0');
  DWORD read = 0;
  if (!::ReadFile(input, &bytes[0], available, &read, nullptr) || read != available) return false;
  return DecodeFinishingWord(bytes, word);
}

}  // namespace stubframework::app
