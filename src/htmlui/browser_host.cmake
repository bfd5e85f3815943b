# The host seam and the browser host (included by this folder's CMakeLists).

# nlohmann-json from Debian (nlohmann-json3-dev), header-only. Its headers sit
# in /usr/include, which must not reach the mingw build, so the folder is
# copied into the build tree and included from there.
set(STUB_NLOHMANN_DIR "${CMAKE_BINARY_DIR}/third_party/include")
if(NOT EXISTS "/usr/include/nlohmann/json.hpp")
  message(FATAL_ERROR "nlohmann-json3-dev is missing: run scripts/setup.sh")
endif()
file(COPY "/usr/include/nlohmann" DESTINATION "${STUB_NLOHMANN_DIR}")
add_library(stub_nlohmann_json INTERFACE)
target_include_directories(stub_nlohmann_json SYSTEM INTERFACE "${STUB_NLOHMANN_DIR}")

target_sources(stub_htmlui PRIVATE
  browser_ui_host.cpp
  external_caller.cpp
  folder_picker.cpp
  host_channel.cpp
  make_ui_host.cpp
  mshtml_ui_host.cpp
  page_function.cpp
  script_values.cpp
  ui_host_endpoint.cpp
  utf8_text.cpp
)
target_link_libraries(stub_htmlui PUBLIC stub_nlohmann_json ws2_32 shell32)
