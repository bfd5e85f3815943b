// The region reply: each field read from it is a piece of the reply.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "telemetry/report_documents.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  stubframework::telemetry::RegionReply parsed = stubframework::telemetry::ParseRegionReply(reply);
  if (parsed.country.size() > size || parsed.is_embargo.size() > size) abort();
  if (parsed.embargoed() != (parsed.is_embargo == L"true")) abort();
  return 0;
}
