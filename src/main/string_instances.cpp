// The product's own instances of the two string classes. The standard
// library's headers declare them instantiated in the library, whose object
// carries every member (about 58 KB); defined here, in a build whose functions
// sit in sections of their own, the linker keeps only the members the product
// calls and never takes the library's object.
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;
