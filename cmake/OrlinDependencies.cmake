# Third-party libraries. On Linux they come from Debian's -dev packages; the
# Windows cross-build points CMAKE_PREFIX_PATH at the static builds made from
# Debian's source packages (see cmake/toolchain-mingw32.cmake).

find_package(Threads REQUIRED)

if(WIN32)
  # Static libraries in the deps prefix (found through CMAKE_FIND_ROOT_PATH).
  # orlin_static_dep(<target> HEADER <file> [INCLUDE_SUFFIXES ...] NAMES <lib>...
  #                  [LIBS <system libs>...] [DEFINES ...])
  function(orlin_static_dep target)
    cmake_parse_arguments(ARG "" "HEADER" "INCLUDE_SUFFIXES;NAMES;LIBS;DEFINES" ${ARGN})
    find_path(${target}_INCLUDE_DIR ${ARG_HEADER} PATH_SUFFIXES ${ARG_INCLUDE_SUFFIXES} REQUIRED)
    find_library(${target}_LIBRARY NAMES ${ARG_NAMES} REQUIRED)
    add_library(${target} STATIC IMPORTED)
    set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${${target}_LIBRARY})
    target_include_directories(${target} INTERFACE ${${target}_INCLUDE_DIR})
    if(ARG_LIBS)
      target_link_libraries(${target} INTERFACE ${ARG_LIBS})
    endif()
    if(ARG_DEFINES)
      target_compile_definitions(${target} INTERFACE ${ARG_DEFINES})
    endif()
  endfunction()

  orlin_static_dep(orlin_dep_curl HEADER curl/curl.h NAMES curl libcurl
                   LIBS ws2_32 crypt32 secur32 bcrypt advapi32 DEFINES CURL_STATICLIB)
  orlin_static_dep(orlin_dep_uv HEADER uv.h NAMES uv_a uv
                   LIBS ws2_32 psapi iphlpapi userenv user32 advapi32 dbghelp ole32 shell32)
  orlin_static_dep(orlin_dep_jsoncpp HEADER json/json.h NAMES jsoncpp jsoncpp_static)
  orlin_static_dep(orlin_dep_cjson HEADER cJSON.h INCLUDE_SUFFIXES cjson NAMES cjson)
  # Code includes either <cJSON.h> (as pkg-config sets it up on Linux) or <cjson/cJSON.h>.
  get_filename_component(orlin_cjson_parent ${orlin_dep_cjson_INCLUDE_DIR} DIRECTORY)
  target_include_directories(orlin_dep_cjson INTERFACE ${orlin_cjson_parent})
  orlin_static_dep(orlin_dep_tinyxml2 HEADER tinyxml2.h NAMES tinyxml2)

  add_library(orlin::curl ALIAS orlin_dep_curl)
  add_library(orlin::uv ALIAS orlin_dep_uv)
  add_library(orlin::jsoncpp ALIAS orlin_dep_jsoncpp)
  add_library(orlin::cjson ALIAS orlin_dep_cjson)
  add_library(orlin::tinyxml2 ALIAS orlin_dep_tinyxml2)
else()
find_package(PkgConfig REQUIRED)

find_package(CURL REQUIRED)
pkg_check_modules(LIBUV REQUIRED IMPORTED_TARGET libuv)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET libcjson)
pkg_check_modules(TINYXML2 REQUIRED IMPORTED_TARGET tinyxml2)

add_library(orlin::curl ALIAS CURL::libcurl)
add_library(orlin::uv ALIAS PkgConfig::LIBUV)
add_library(orlin::jsoncpp ALIAS PkgConfig::JSONCPP)
add_library(orlin::cjson ALIAS PkgConfig::CJSON)
add_library(orlin::tinyxml2 ALIAS PkgConfig::TINYXML2)
endif()

if(ORLIN_BUILD_TESTS)
  if(WIN32)
    # The mingw build of GoogleTest installs its own package configuration.
    find_package(GTest CONFIG REQUIRED)
  else()
    find_package(GTest REQUIRED)
  endif()
endif()
if(ORLIN_BUILD_BENCH AND NOT WIN32)
  find_package(benchmark QUIET)
endif()
if(ORLIN_BUILD_QT AND NOT WIN32)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
endif()
