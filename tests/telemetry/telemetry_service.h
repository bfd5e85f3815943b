// The telemetry service as the tests see it: tools/telemetry-server over
// HTTPS on 127.0.0.1 with a certificate for "localhost" that the prefix
// trusts, its pageview collector over plain HTTP, and the record of every
// request it answered. Started for the CTest run by the telemetry_service fixture.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_files.h"
#include "telemetry/service_endpoint.h"

namespace testsupport {

struct ServiceRequest {
  std::string method;
  std::string target;  // path and query
  std::string content_type;
  int status = 0;
  std::string body;
  std::string note;  // what the service made of it ("zip:NAME=CRC/SIZE;...", "analytics status=...")
  std::string user_agent;
};

class TelemetryService {
 public:
  // Read once from the folder named by STUB_TELEMETRY_TEST_DIR; null, with the
  // reason, when the fixture did not run.
  static const TelemetryService* Get(std::string* error);

  // "localhost" on the HTTPS port, 127.0.0.1 on the collector's.
  stubframework::telemetry::Services Endpoints() const;
  // The same host on a port nothing listens on.
  stubframework::telemetry::Services StoppedEndpoints() const;
  unsigned short telemetry_port() const { return telemetry_port_; }
  unsigned short collector_port() const { return collector_port_; }
  unsigned short dead_port() const { return dead_port_; }
  const std::string& embargoed() const { return embargoed_; }

  // How many requests are recorded so far.
  size_t Mark() const;
  // The requests recorded after `mark`, waiting up to `wait_ms` for `at_least` of them.
  std::vector<ServiceRequest> Since(size_t mark, size_t at_least = 0, int wait_ms = 5000) const;

 private:
  std::vector<ServiceRequest> ReadAll() const;

  unsigned short telemetry_port_ = 0;
  unsigned short collector_port_ = 0;
  unsigned short dead_port_ = 0;
  std::string embargoed_;
  std::wstring record_;
};

// Fixture base: fails the test when the service is not running.
class TelemetryServiceTest : public ::testing::Test {
 protected:
  void SetUp() override;
  const TelemetryService& service() const { return *service_; }

 private:
  const TelemetryService* service_ = nullptr;
};

}  // namespace testsupport
