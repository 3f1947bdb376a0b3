# Cross-build for Windows with mingw-w64 (posix thread model). The product is
# a 32-bit program (i686, the default); ORLIN_MINGW_ARCH=x86_64 (environment)
# builds the same sources as 64-bit code, which is how the tests run on hosts
# whose kernel cannot execute 32-bit code (and so cannot run 32-bit Wine).
# The runtime is linked statically so the executables need no DLLs beside them.
# Third-party libraries come from the static builds of scripts/build-windows-deps,
# installed by default under build/windows-deps/<arch>/prefix (override with
# the ORLIN_WINDOWS_DEPS environment variable).

if(NOT ORLIN_MINGW_ARCH)
  if(DEFINED ENV{ORLIN_MINGW_ARCH})
    set(ORLIN_MINGW_ARCH $ENV{ORLIN_MINGW_ARCH})
  else()
    set(ORLIN_MINGW_ARCH i686)
  endif()
endif()
set(ORLIN_MINGW_ARCH ${ORLIN_MINGW_ARCH} CACHE STRING "i686 (the product) or x86_64")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORLIN_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ORLIN_MINGW_ARCH})

set(ORLIN_MINGW_TRIPLE ${ORLIN_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${ORLIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORLIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORLIN_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ORLIN_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "archiver")
set(CMAKE_RANLIB ${ORLIN_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "ranlib")

if(DEFINED ENV{ORLIN_WINDOWS_DEPS})
  set(ORLIN_WINDOWS_DEPS_PREFIX $ENV{ORLIN_WINDOWS_DEPS})
else()
  get_filename_component(ORLIN_WINDOWS_DEPS_PREFIX ${CMAKE_CURRENT_LIST_DIR}/../build/windows-deps/${ORLIN_MINGW_ARCH}/prefix ABSOLUTE)
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${ORLIN_MINGW_TRIPLE} ${ORLIN_WINDOWS_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
