// A script value as the page sends it, checked and decoded without Windows
// headers (it also builds natively, for fuzzing); script_values.h makes the
// VARIANT of it.
//   {"t":"s","v":"text"}  text           {"t":"b","v":true}  a boolean
//   {"t":"s","u":[55296,97]}  text as UTF-16 code units (0 to 65535)
//   {"t":"i","v":5}       a 32-bit integer  {"t":"d","v":0.5}  a number
//   {"t":"null"}  {"t":"undefined"}     {"t":"fn","id":"…"}  a page function
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace stubframework::browserhost {

struct ScriptValue {
  enum class Kind { kUndefined, kNull, kText, kBool, kInteger, kNumber, kFunction };
  Kind kind = Kind::kUndefined;
  std::string utf8;               // kText from "v"
  std::vector<uint16_t> units;    // kText from "u"
  bool from_units = false;
  bool boolean = false;
  int32_t integer = 0;
  double number = 0;
  std::string function_id;        // kFunction: never empty
};

// False for anything malformed: no object, no "t" text, an unknown type, a
// payload of the wrong type, an integer beyond 32 bits, a code unit beyond
// 16 bits, an empty function id.
bool DecodeScriptValue(const nlohmann::json& value, ScriptValue* out);

}  // namespace stubframework::browserhost
