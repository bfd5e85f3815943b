#include "telemetry/telemetry_service.h"

#include <windows.h>

#include <cstdlib>
#include <map>
#include <sstream>

namespace testsupport {

namespace {

std::string ReadShared(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[65536];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read);
  ::CloseHandle(file);
  return text;
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  return bytes;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(text);
  while (std::getline(in, part, separator)) parts.push_back(part);
  if (!text.empty() && text.back() == separator) parts.push_back(std::string());
  return parts;
}

}  // namespace

const TelemetryService* TelemetryService::Get(std::string* error) {
  static TelemetryService service;
  static std::string failure = [] {
    const char* dir = std::getenv("STUB_TELEMETRY_TEST_DIR");
    if (dir == nullptr) return std::string("STUB_TELEMETRY_TEST_DIR is not set (run the test through CTest)");
    std::string env = ReadShared(WindowsPathOf(std::string(dir) + "/service.env"));
    if (env.empty()) return std::string("no service.env: the telemetry_service fixture did not run");
    std::map<std::string, std::string> values;
    for (const std::string& line : Split(env, '\n')) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    service.telemetry_port_ = static_cast<unsigned short>(std::atoi(values["telemetry_port"].c_str()));
    service.collector_port_ = static_cast<unsigned short>(std::atoi(values["collector_port"].c_str()));
    service.dead_port_ = static_cast<unsigned short>(std::atoi(values["dead_port"].c_str()));
    service.embargoed_ = values["embargoed"];
    service.record_ = WindowsPathOf(values["record"]);
    if (service.telemetry_port_ == 0 || service.collector_port_ == 0) return std::string("bad service.env");
    return std::string();
  }();
  if (!failure.empty()) {
    if (error != nullptr) *error = failure;
    return nullptr;
  }
  return &service;
}

stubframework::telemetry::Services TelemetryService::Endpoints() const {
  stubframework::telemetry::Services services;
  services.telemetry = {L"localhost", telemetry_port_, true};
  services.collector = {L"127.0.0.1", collector_port_, false};
  return services;
}

stubframework::telemetry::Services TelemetryService::StoppedEndpoints() const {
  stubframework::telemetry::Services services;
  services.telemetry = {L"localhost", dead_port_, true};
  services.collector = {L"127.0.0.1", dead_port_, false};
  return services;
}

std::vector<ServiceRequest> TelemetryService::ReadAll() const {
  std::vector<ServiceRequest> requests;
  std::string text = ReadShared(record_);
  // A line still being written has no newline yet.
  size_t complete = text.rfind('\n');
  if (complete == std::string::npos) return requests;
  for (const std::string& line : Split(text.substr(0, complete), '\n')) {
    std::vector<std::string> f = Split(line, '\t');
    if (f.size() < 7) continue;
    requests.push_back({f[0], f[1], f[2], std::atoi(f[3].c_str()), FromHex(f[4]), f[5], f[6]});
  }
  return requests;
}

size_t TelemetryService::Mark() const { return ReadAll().size(); }

std::vector<ServiceRequest> TelemetryService::Since(size_t mark, size_t at_least, int wait_ms) const {
  const DWORD start = ::GetTickCount();
  for (;;) {
    std::vector<ServiceRequest> all = ReadAll();
    std::vector<ServiceRequest> recent(all.begin() + std::min(mark, all.size()), all.end());
    if (recent.size() >= at_least || ::GetTickCount() - start >= static_cast<DWORD>(wait_ms)) return recent;
    ::Sleep(20);
  }
}

void TelemetryServiceTest::SetUp() {
  std::string error;
  service_ = TelemetryService::Get(&error);
  ASSERT_NE(service_, nullptr) << error;
}

}  // namespace testsupport
