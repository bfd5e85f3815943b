// How the standard library reports a failed precondition in the product:
// std::bad_alloc, whatever the failure. libstdc++'s own helpers build a
// std::logic_error and its kin, whose message is a reference-counted string
// kept for the old ABI; that brings the old string's whole instantiation and
// more (about 60 KB) into the executable for a text nobody reads. Where
// exceptions exist the only catch is catch (...) around an engine object's
// construction, which behaves the same whatever is thrown; the shipped product
// has no exceptions and ends the process instead. Every helper of libstdc++'s
// set is defined here, so that the library's object is never linked beside
// them.
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <typeinfo>

namespace std {

#if __cpp_exceptions
#define STUB_FAIL(what) throw what
#else
// Without exception support (the shipped product) nothing could catch it.
#define STUB_FAIL(what) std::abort()
#endif

[[noreturn]] void __throw_bad_alloc() { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_bad_array_new_length() { STUB_FAIL(bad_array_new_length()); }
[[noreturn]] void __throw_bad_cast() { STUB_FAIL(bad_cast()); }
[[noreturn]] void __throw_bad_typeid() { STUB_FAIL(bad_typeid()); }
#if !__cpp_exceptions
// Where exceptions exist the library's own object is linked for the class's
// type information anyway, and it defines this helper too.
[[noreturn]] void __throw_bad_function_call() { std::abort(); }
#endif
[[noreturn]] void __throw_bad_exception() { STUB_FAIL(bad_exception()); }
[[noreturn]] void __throw_logic_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_domain_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_invalid_argument(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_length_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_out_of_range(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_runtime_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_range_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_overflow_error(const char*) { STUB_FAIL(bad_alloc()); }
[[noreturn]] void __throw_underflow_error(const char*) { STUB_FAIL(bad_alloc()); }

}  // namespace std
