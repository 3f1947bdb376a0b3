# Shared compile settings and the small helpers every folder uses.

add_library(orlin_options INTERFACE)
if(MSVC)
  target_compile_options(orlin_options INTERFACE /W4 /utf-8)
else()
  target_compile_options(orlin_options INTERFACE -Wall -Wextra -Wno-unused-parameter)
  if(ORLIN_WERROR)
    target_compile_options(orlin_options INTERFACE -Werror)
  endif()
  if(NOT WIN32)
    # Qt demands position-independent code of whatever links it; everything
    # else is built the same way so that one precompiled header fits all.
    target_compile_options(orlin_options INTERFACE -fPIC)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    # GCC 12 reports std::string inlined at -O2 as overlapping memcpy
    # (-Wrestrict) or as copying past its small buffer (-Warray-bounds,
    # -Wstringop-overflow, -Wstringop-overread), and moved-from strings inside aggregates as maybe
    # uninitialised; all known false positives of that release.
    target_compile_options(orlin_options INTERFACE -Wno-restrict -Wno-maybe-uninitialized -Wno-array-bounds
                                                   -Wno-stringop-overflow -Wno-stringop-overread)
  endif()
endif()
if(WIN32)
  target_compile_definitions(orlin_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
if(ORLIN_SANITIZE)
  target_compile_options(orlin_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(orlin_options INTERFACE -fsanitize=address,undefined)
endif()

# orlin_library(NAME <target> [SOURCES ...] [LIBS ...])
# A folder's library. With no SOURCES, every *.cpp of the calling folder is taken.
function(orlin_library)
  cmake_parse_arguments(ARG "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  if(ARG_SOURCES)
    add_library(${ARG_NAME} STATIC ${ARG_SOURCES})
    target_link_libraries(${ARG_NAME} PUBLIC orlin_options ${ARG_LIBS})
  else()
    add_library(${ARG_NAME} INTERFACE)
    target_link_libraries(${ARG_NAME} INTERFACE orlin_options ${ARG_LIBS})
  endif()
endfunction()

# orlin_windows_manifest(<target>)
# Embeds the application manifest (supported systems, asInvoker) into a
# Windows executable; does nothing elsewhere.
function(orlin_windows_manifest target)
  if(WIN32)
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/windows/orlin_manifest.rc)
  endif()
endfunction()

# Tests that start engines or run the controller's start-up on the real
# process table.
set(ORLIN_ENGINE_TESTS
  "_e2e_test$|^engine_engine_real_test$|^orlin_cli_test$|^orlin_ctl_program_test$|^program_|^account_tarn_server|^controller_settings_apply|^platform_process_posix_test$|^platform_process_win32_test$|^platform_engine_process_win32_test$|^faults_")

# orlin_test(NAME <test> SOURCES ... [LIBS ...] [LABELS ...] [TIMEOUT s] [SERIAL])
# One GoogleTest executable registered as one CTest test.
function(orlin_test)
  cmake_parse_arguments(ARG "SERIAL" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  if(NOT ORLIN_BUILD_TESTS)
    return()
  endif()
  add_executable(${ARG_NAME} ${ARG_SOURCES})
  orlin_windows_manifest(${ARG_NAME})
  target_link_libraries(${ARG_NAME} PRIVATE orlin_options ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(TARGET orlin_test_pch)
    target_precompile_headers(${ARG_NAME} REUSE_FROM orlin_test_pch)
  endif()
  if(ORLIN_TEST_RUNNER)
    add_test(NAME ${ARG_NAME} COMMAND ${ORLIN_TEST_RUNNER} $<TARGET_FILE:${ARG_NAME}>)
  else()
    add_test(NAME ${ARG_NAME} COMMAND ${ARG_NAME})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set_tests_properties(${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  if(ORLIN_SANITIZE)
    set_property(TEST ${ARG_NAME} APPEND PROPERTY
      ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0")
  endif()
  if(ARG_LABELS)
    set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if(ARG_SERIAL)
    set_tests_properties(${ARG_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
  # Every start-up stops this user's engines, and a test's private network
  # does not hide its processes from another test: tests that run engines
  # (or the start-up against the real process table) take turns.
  if(ARG_NAME MATCHES "${ORLIN_ENGINE_TESTS}")
    set_tests_properties(${ARG_NAME} PROPERTIES RESOURCE_LOCK sync_exe_processes)
  endif()
endfunction()

# Adds every direct sub-folder of the calling folder that has a CMakeLists.txt.
function(orlin_add_subfolders)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# orlin_folder_tests(PREFIX <prefix> LIBS ...)
# Every tests/*_test.cpp of the calling folder becomes one test executable
# named <prefix>_<file>, linked with LIBS and the shared test support.
function(orlin_folder_tests)
  cmake_parse_arguments(ARG "" "PREFIX" "LIBS" ${ARGN})
  if(NOT ORLIN_BUILD_TESTS)
    return()
  endif()
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/*_test.cpp)
  foreach(test_source ${tests})
    get_filename_component(test_name ${test_source} NAME_WE)
    # A folder lists in ORLIN_WINDOWS_EXCLUDED_TESTS the tests that rely on
    # POSIX and so have no Windows build.
    if(WIN32 AND test_name IN_LIST ORLIN_WINDOWS_EXCLUDED_TESTS)
      continue()
    endif()
    # ... and in ORLIN_INTEGRATION_TESTS those that run real engines.
    if(NOT ORLIN_BUILD_INTEGRATION_TESTS AND test_name IN_LIST ORLIN_INTEGRATION_TESTS)
      continue()
    endif()
    orlin_test(NAME ${ARG_PREFIX}_${test_name} SOURCES ${test_source} LIBS ${ARG_LIBS} orlin_testsupport)
  endforeach()
endfunction()
