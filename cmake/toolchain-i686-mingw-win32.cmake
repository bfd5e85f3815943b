# Cross-compiles the shipped product for 32-bit Windows with the win32-thread
# mingw-w64 compilers: no winpthreads in the executable. Their C++ library
# lacks std::mutex and std::thread, so such a build has the product alone (no
# browser UI host, no tests); everything else uses toolchain-i686-mingw.cmake.
set(STUB_MINGW_THREAD_MODEL win32)
include("${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-mingw.cmake")
