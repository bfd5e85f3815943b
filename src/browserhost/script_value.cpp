#include "browserhost/script_value.h"

#include <limits>

namespace stubframework::browserhost {

bool DecodeScriptValue(const nlohmann::json& value, ScriptValue* out) {
  using Kind = ScriptValue::Kind;
  *out = ScriptValue();
  if (!value.is_object()) return false;
  auto type_field = value.find("t");
  if (type_field == value.end() || !type_field->is_string()) return false;
  const std::string& type = type_field->get_ref<const std::string&>();
  auto payload = value.find("v");
  if (type == "undefined") return true;
  if (type == "null") {
    out->kind = Kind::kNull;
    return true;
  }
  if (type == "s") {
    out->kind = Kind::kText;
    auto units = value.find("u");
    if (units != value.end()) {
      if (!units->is_array()) return false;
      out->from_units = true;
      out->units.reserve(units->size());
      for (const nlohmann::json& unit : *units) {
        if (!unit.is_number_integer()) return false;
        // An unsigned JSON number beyond 63 bits would read as negative.
        if (unit.is_number_unsigned() ? unit.get<uint64_t>() > 0xFFFF
                                      : unit.get<int64_t>() < 0 || unit.get<int64_t>() > 0xFFFF) {
          return false;
        }
        out->units.push_back(static_cast<uint16_t>(unit.get<int64_t>()));
      }
      return true;
    }
    if (payload == value.end() || !payload->is_string()) return false;
    out->utf8 = payload->get_ref<const std::string&>();
    return true;
  }
  if (type == "b") {
    if (payload == value.end() || !payload->is_boolean()) return false;
    out->kind = Kind::kBool;
    out->boolean = payload->get<bool>();
    return true;
  }
  if (type == "i") {
    // A script engine makes a 32-bit integer of every whole number that fits.
    if (payload == value.end() || !payload->is_number_integer()) return false;
    if (payload->is_number_unsigned() && payload->get<uint64_t>() > uint64_t{std::numeric_limits<int32_t>::max()}) {
      return false;
    }
    const int64_t n = payload->get<int64_t>();
    if (n < std::numeric_limits<int32_t>::min() || n > std::numeric_limits<int32_t>::max()) return false;
    out->kind = Kind::kInteger;
    out->integer = static_cast<int32_t>(n);
    return true;
  }
  if (type == "d") {
    if (payload == value.end() || !payload->is_number()) return false;
    out->kind = Kind::kNumber;
    out->number = payload->get<double>();
    return true;
  }
  if (type == "fn") {
    auto id = value.find("id");
    if (id == value.end() || !id->is_string() || id->get_ref<const std::string&>().empty()) return false;
    out->kind = Kind::kFunction;
    out->function_id = id->get<std::string>();
    return true;
  }
  return false;
}

}  // namespace stubframework::browserhost
