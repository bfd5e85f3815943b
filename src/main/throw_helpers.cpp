// How the standard library reports a failed precondition in the product:
// std::bad_alloc, whatever the failure. libstdc++'s own helpers build a
// std::logic_error and its kin, whose message is a reference-counted string
// kept for the old ABI; that brings the old string's whole instantiation and
// more (about 60 KB) into the executable for a text nobody reads. The only
// catch in the product is catch (...) around an engine object's construction
// (which answers E_OUTOFMEMORY); anything uncaught ends the process. Both
// behave the same whatever is thrown. Every helper of libstdc++'s set is
// defined here, so that the library's object is never linked beside them.
#include <exception>
#include <new>
#include <typeinfo>

namespace std {

[[noreturn]] void __throw_bad_alloc() { throw bad_alloc(); }
[[noreturn]] void __throw_bad_array_new_length() { throw bad_array_new_length(); }
[[noreturn]] void __throw_bad_cast() { throw bad_cast(); }
[[noreturn]] void __throw_bad_typeid() { throw bad_typeid(); }
[[noreturn]] void __throw_bad_exception() { throw bad_exception(); }
[[noreturn]] void __throw_logic_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_domain_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_invalid_argument(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_length_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_out_of_range(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { throw bad_alloc(); }
[[noreturn]] void __throw_runtime_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_range_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_overflow_error(const char*) { throw bad_alloc(); }
[[noreturn]] void __throw_underflow_error(const char*) { throw bad_alloc(); }

}  // namespace std
