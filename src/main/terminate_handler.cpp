// What std::terminate does in the product: end the process at once.
// libstdc++'s default handler first writes the pending exception's type, and
// naming the type links the whole C++ name demangler (about 46 KB) into a GUI
// program that has nowhere to write it. Defining the handler here keeps the
// library's own out of the link.
#include <cstdlib>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
