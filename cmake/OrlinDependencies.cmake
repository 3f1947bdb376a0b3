# Third-party libraries. On Linux they come from Debian's -dev packages; the
# Windows cross-build points CMAKE_PREFIX_PATH at the static builds made from
# Debian's source packages (see cmake/toolchain-mingw32.cmake).

find_package(Threads REQUIRED)
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

if(ORLIN_BUILD_TESTS)
  find_package(GTest REQUIRED)
endif()
if(ORLIN_BUILD_BENCH AND NOT WIN32)
  find_package(benchmark QUIET)
endif()
if(ORLIN_BUILD_QT AND NOT WIN32)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Test)
endif()
