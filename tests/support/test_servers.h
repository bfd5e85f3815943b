// The test servers as a test sees them: nginx (real Range, ETag and If-Range)
// and the fault-injecting server (tests/support/fault_server.py), both on
// 127.0.0.1, started for the whole CTest run by the stub_servers fixture.
//
//   class MyTest : public testsupport::ServerTest {};
//   TEST_F(MyTest, X) {
//     std::string key = testsupport::UniqueKey();
//     servers().PutFile(key + ".bin", testsupport::PatternBytes(1000));
//     std::wstring url = servers().NginxUrl("/" + key + ".bin");
//     std::wstring faulty = servers().FaultUrl("/drop/" + key + "?after=600");
//     auto asked = servers().FaultRequests(key);   // what the client sent
//   }
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace testsupport {

// One request as a server recorded it. Absent headers are empty.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query
  std::string range;
  std::string if_range;
  std::string note;  // fault server: what it did ("drop 200", "flipped@N 206"); nginx: the status
  std::string connection;  // nginx: the serial number of the TCP connection it came on
};

class TestServers {
 public:
  // The running servers, read once from the folder named by the environment
  // variable STUB_TEST_SERVERS. Null, with the reason in *error, when they are
  // not running (the executable was started outside CTest).
  static const TestServers* Get(std::string* error);

  std::wstring NginxUrl(const std::string& path) const;
  std::wstring FaultUrl(const std::string& path) const;
  int nginx_port() const { return nginx_port_; }
  int fault_port() const { return fault_port_; }

  // Windows path of a file in the document root both servers serve.
  std::wstring DocPath(const std::string& name) const;
  bool PutFile(const std::string& name, const std::string& bytes) const;
  bool PutPatternFile(const std::string& name, size_t size) const;

  // A path on a 1 MiB file system (for disk-full tests); empty when the
  // fixture could not mount one (mounting needs privileges).
  std::wstring SmallDiskPath(const std::string& name) const;

  // Requests whose target contains `needle`, in arrival order. nginx writes
  // its line when a response ends, so its reader waits up to `wait_ms` for at
  // least `at_least` lines.
  std::vector<RecordedRequest> FaultRequests(const std::string& needle) const;
  std::vector<RecordedRequest> NginxRequests(const std::string& needle, size_t at_least = 0,
                                             int wait_ms = 2000) const;

 private:
  int nginx_port_ = 0;
  int fault_port_ = 0;
  std::wstring docroot_;
  std::wstring nginx_log_;
  std::wstring fault_log_;
  std::wstring small_dir_;
};

// Byte i of the fault server's generated bodies.
inline unsigned char PatternByte(size_t i) {
  return static_cast<unsigned char>((i * 131 + (i >> 8) * 7 + 17) & 0xFF);
}
std::string PatternBytes(size_t size, size_t start = 0);

// Bytes without a period (xorshift32 from `seed`): every 1 MiB block differs,
// so block digests also prove the order of the blocks.
std::string NoisyBytes(size_t size, unsigned seed = 2463534242u);

// Unique per test and process: "<Suite>.<Test>-<pid>-<n>" made URL-safe.
std::string UniqueKey();

// Fixture base: fails the test when the servers are not running.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  const TestServers& servers() const { return *servers_; }

 private:
  const TestServers* servers_ = nullptr;
};

}  // namespace testsupport
