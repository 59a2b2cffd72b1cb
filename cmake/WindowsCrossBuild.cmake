# What a Windows build made on Debian with cmake/MinGW-w64.cmake takes from the build machine,
# and what it leaves out. Included from the root CMakeLists.txt before anything is found.

# No package registry here ships Qt or Google Benchmark for MinGW: the window and the benchmarks
# are left out unless asked for (a Qt for MinGW of one's own, in CMAKE_PREFIX_PATH).
if(NOT DEFINED TANDRA_BUILD_GUI)
  set(TANDRA_BUILD_GUI OFF CACHE BOOL "Build the Qt window")
endif()
if(NOT DEFINED TANDRA_BUILD_BENCH)
  set(TANDRA_BUILD_BENCH OFF CACHE BOOL "Build the benchmarks")
endif()

# The command-line program's header-only libraries come from the build machine's Debian packages
# (libcli11-dev, nlohmann-json3-dev): the folders of their headers alone, never the rest of
# /usr/include, whose C library headers are not Windows'.
set(tandra_host_headers ${CMAKE_BINARY_DIR}/host-headers)
file(MAKE_DIRECTORY ${tandra_host_headers})
foreach(library CLI nlohmann)
  if(EXISTS /usr/include/${library} AND NOT EXISTS ${tandra_host_headers}/${library})
    file(CREATE_LINK /usr/include/${library} ${tandra_host_headers}/${library} SYMBOLIC)
  endif()
endforeach()
if(EXISTS ${tandra_host_headers}/CLI/CLI.hpp)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 INTERFACE ${tandra_host_headers})
  set(CLI11_FOUND TRUE)
endif()
if(EXISTS ${tandra_host_headers}/nlohmann/json.hpp)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json INTERFACE ${tandra_host_headers})
  set(nlohmann_json_FOUND TRUE)
endif()
