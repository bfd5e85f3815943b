// A script value from the page: any JSON text, and any JSON value in it, is
// decoded or refused; what is decoded keeps the limits of its type.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "browserhost/frame_codec.h"
#include "browserhost/script_value.h"

namespace browserhost = stubframework::browserhost;

namespace {

void Check(const nlohmann::json& value) {
  browserhost::ScriptValue decoded;
  if (!browserhost::DecodeScriptValue(value, &decoded)) return;
  if (decoded.kind == browserhost::ScriptValue::Kind::kFunction && decoded.function_id.empty()) abort();
  if (decoded.kind == browserhost::ScriptValue::Kind::kInteger) {
    const auto& v = value["v"];
    if (v.is_number_unsigned() ? v.get<uint64_t>() != static_cast<uint64_t>(decoded.integer)
                               : v.get<int64_t>() != decoded.integer) {
      abort();  // an integer that does not fit was taken for another
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  nlohmann::json value = browserhost::ParseFrameText(text);
  if (value.is_discarded()) return 0;
  Check(value);
  if (value.is_object() || value.is_array()) {
    for (const nlohmann::json& member : value) Check(member);
  }
  return 0;
}
