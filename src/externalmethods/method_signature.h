// The one description of every script-visible method: how it must be called,
// what it takes and returns, where its tag is logged, and its body.
//
// Building a method: write its body as a MethodBody (it runs only after the
// dispatcher's checks, and finds its arguments in script order through
// ScriptCall) and put it into the method's row in method_table.cpp. The tag of
// the row is logged by the dispatcher; the body writes its other lines.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstddef>

namespace stubframework::externalmethods {

class ExternalMethods;
class ScriptCall;

// The invocation flags a checked method accepts, compared exactly.
enum class CallKind : WORD {
  kUnchecked = 0,                                     // flags, count and types are not checked
  kMethod = DISPATCH_METHOD,                          // 1
  kMethodGet = DISPATCH_METHOD | DISPATCH_PROPERTYGET,  // 3
};

enum class ResultKind { kNone, kText, kBool, kInt, kUnsignedInt };

// Where the dispatcher writes the method's tag line.
enum class TagAt {
  kNone,              // the method writes no tag, or its body writes a formatted first line
  kBeforeChecks,      // on entry, before the invocation kind is checked
  kBeforeResultSlot,  // after the checks, also when nobody takes the result
  kBeforeWork,        // after every check, right before the body
};

// What sets a row apart from the ordinary checked call.
enum MethodFlag : unsigned {
  kNoFlags = 0,
  kArgumentsAsText = 1,    // the argument's type is not checked: the body reads it as text
  kRunsWithoutResult = 2,  // the body runs even when nobody takes the result
};

// A method's work, run once the dispatch checks have passed.
using MethodBody = HRESULT (*)(ExternalMethods& methods, ScriptCall& call);

inline constexpr int kMaxArity = 6;

struct MethodSignature {
  const wchar_t* name;
  CallKind call;
  VARTYPE args[kMaxArity];  // in script order; the list ends at the first VT_EMPTY
  ResultKind result;
  const wchar_t* tag;
  TagAt tag_at;
  MethodBody body;
  unsigned flags = kNoFlags;  // MethodFlag bits

  constexpr int arity() const {
    int count = 0;
    while (count < kMaxArity && args[count] != VT_EMPTY) ++count;
    return count;
  }
  constexpr bool checks_types() const { return (flags & kArgumentsAsText) == 0; }
  constexpr bool runs_without_result() const { return (flags & kRunsWithoutResult) != 0; }
};

// Rows 0 .. kBaseMethodCount-1 are the framework's names, the rest the product's.
inline constexpr std::size_t kBaseMethodCount = 71;
inline constexpr std::size_t kProductMethodCount = 14;
inline constexpr std::size_t kMethodCount = kBaseMethodCount + kProductMethodCount;

const MethodSignature& MethodRow(std::size_t row);

}  // namespace stubframework::externalmethods
