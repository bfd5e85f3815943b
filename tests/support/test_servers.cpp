#include "support/test_servers.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace testsupport {
namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return fields;
}

std::vector<RecordedRequest> ReadRecord(const std::wstring& path, const std::string& needle, bool dash_is_empty) {
  std::vector<RecordedRequest> requests;
  std::istringstream lines(ReadWholeFile(path));
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> f = SplitTabs(line);
    if (f.size() < 5) continue;
    if (dash_is_empty) {
      for (auto& field : f) {
        if (field == "-") field.clear();
      }
    }
    RecordedRequest r{f[0], f[1], f[2], f[3], f[4], f.size() > 5 ? f[5] : std::string()};
    if (r.target.find(needle) != std::string::npos) requests.push_back(r);
  }
  return requests;
}

}  // namespace

const TestServers* TestServers::Get(std::string* error) {
  static TestServers* servers = [error]() -> TestServers* {
    const char* dir = getenv("STUB_TEST_SERVERS");
    if (dir == nullptr || *dir == '\0') {
      *error = "STUB_TEST_SERVERS is not set: run this test through ctest (fixture stub_servers)";
      return nullptr;
    }
    std::wstring env_path = WindowsPathOf(std::string(dir) + "/servers.env");
    std::istringstream lines(ReadWholeFile(env_path));
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(lines, line)) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    if (values["nginx_port"].empty() || values["fault_port"].empty()) {
      *error = "the test servers are not running (no servers.env in " + std::string(dir) + ")";
      return nullptr;
    }
    auto* s = new TestServers();
    s->nginx_port_ = atoi(values["nginx_port"].c_str());
    s->fault_port_ = atoi(values["fault_port"].c_str());
    s->docroot_ = WindowsPathOf(values["docroot"]);
    s->nginx_log_ = WindowsPathOf(values["nginx_log"]);
    s->fault_log_ = WindowsPathOf(values["fault_log"]);
    if (!values["small_dir"].empty()) s->small_dir_ = WindowsPathOf(values["small_dir"]);
    return s;
  }();
  if (servers == nullptr && error->empty()) *error = "the test servers are not running";
  return servers;
}

std::wstring TestServers::NginxUrl(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(nginx_port_) + Widen(path);
}

std::wstring TestServers::FaultUrl(const std::string& path) const {
  return L"http://127.0.0.1:" + std::to_wstring(fault_port_) + Widen(path);
}

std::wstring TestServers::DocPath(const std::string& name) const { return docroot_ + L"\\" + Widen(name); }

bool TestServers::PutFile(const std::string& name, const std::string& bytes) const {
  FILE* file = _wfopen(DocPath(name).c_str(), L"wb");
  if (file == nullptr) return false;
  bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return fclose(file) == 0 && ok;
}

bool TestServers::PutPatternFile(const std::string& name, size_t size) const {
  return PutFile(name, PatternBytes(size));
}

std::wstring TestServers::SmallDiskPath(const std::string& name) const {
  return small_dir_.empty() ? std::wstring() : small_dir_ + L"\\" + Widen(name);
}

std::vector<RecordedRequest> TestServers::FaultRequests(const std::string& needle) const {
  return ReadRecord(fault_log_, needle, false);
}

std::vector<RecordedRequest> TestServers::NginxRequests(const std::string& needle, size_t at_least,
                                                        int wait_ms) const {
  std::vector<RecordedRequest> requests = ReadRecord(nginx_log_, needle, true);
  for (int waited = 0; requests.size() < at_least && waited < wait_ms; waited += 20) {
    ::Sleep(20);
    requests = ReadRecord(nginx_log_, needle, true);
  }
  return requests;
}

std::string PatternBytes(size_t size, size_t start) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(PatternByte(start + i));
  return bytes;
}

std::string NoisyBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>(x & 0xFF);
  }
  return bytes;
}

std::string UniqueKey() {
  static int counter = 0;
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name() : "key";
  for (auto& c : name) {
    if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') c = '_';
  }
  return name + "-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++counter);
}

void ServerTest::SetUp() {
  std::string error;
  servers_ = TestServers::Get(&error);
  ASSERT_NE(servers_, nullptr) << error;
}

}  // namespace testsupport
