# run.cmake: the run build of win/CMakeLists.txt: the plug-in, reader, writer, fsdbgen and the
# whole host from the same CMake files as the native build, against Tcl 8.6 for Windows, plus
# the test programs and tcltest scripts, which CTest runs under Wine.
find_program(QUORVEL_WINE wine REQUIRED)
# DLLs without export declarations (the vexa package, test formats) export their own symbols
# only, not those of the static runtime they hold.
add_link_options(-Wl,--exclude-libs,ALL)
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORVEL_WINE})
# Wine maps the Unix root to this drive; test paths reach the programs as Windows paths.
set(QUORVEL_WIN_DRIVE "Z:" CACHE STRING "Wine drive of the Unix root")

find_library(QUORVEL_TCL_LIBRARY NAMES tcl86 tcl86t PATHS ${QUORVEL_TCL_WIN}/lib
             NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
set(QUORVEL_TCL_INCLUDE ${QUORVEL_TCL_WIN}/include)
set(QUORVEL_INCLUDE_DIR ${QUORVEL_ROOT}/include)
# Contract checks off, as in the shipped DLL's reader: the loaders then take the traverser's
# inline per-change path, which is what runs on Windows (Linux runs the suite both ways).
option(NFFR_CONTRACT_CHECKS "Report misuse of reader objects loudly" OFF)
set(QUORVEL_FUZZ OFF)
set(QUORVEL_SANITIZE OFF)

add_subdirectory(${QUORVEL_ROOT}/platform/nffr nffr)
add_subdirectory(${QUORVEL_ROOT}/platform/host host)
add_subdirectory(${QUORVEL_ROOT}/src src)
# The importers read .vcd.gz with Debian's zlib for mingw, linked in so that no zlib DLL is
# needed.
set(ZLIB_USE_STATIC_LIBS ON)
add_subdirectory(${QUORVEL_ROOT}/platform/import import)
add_subdirectory(${QUORVEL_ROOT}/tools tools)

# Windows names: nffr.dll, vexahost.dll, vexa.dll (the Tcl package), quorvel.dll.
set_target_properties(nffr vexahost vexa_tcl quorvel PROPERTIES PREFIX "")
# The test variant of quorvel.dll differs from the shipped one only by the Tcl import library.
target_sources(quorvel PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/quorvel.def)
add_custom_target(check_exports ALL
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.sh ${QUORVEL_OBJDUMP}
          $<TARGET_FILE:quorvel> Quorvel_Init
  DEPENDS quorvel
  COMMENT "Checking the exports of the test variant of quorvel.dll")

# Tcl's DLLs (tcl86.dll, zlib1.dll) beside the programs and its script library where Tcl looks
# for it (../lib).
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/bin ${CMAKE_BINARY_DIR}/lib)
file(GLOB QUORVEL_TCL_DLLS ${QUORVEL_TCL_WIN}/bin/*.dll)
foreach(dll ${QUORVEL_TCL_DLLS})
  get_filename_component(name ${dll} NAME)
  file(CREATE_LINK ${dll} ${CMAKE_BINARY_DIR}/bin/${name} SYMBOLIC)
endforeach()
foreach(dir tcl8.6 tcl8)
  file(CREATE_LINK ${QUORVEL_TCL_WIN}/lib/${dir} ${CMAKE_BINARY_DIR}/lib/${dir} SYMBOLIC)
endforeach()

# GoogleTest from Debian's sources, built with mingw without its thread support, so that a test
# program starts no thread (see win/gtest-custom/).
set(QUORVEL_GTEST_SRC /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
add_library(gtest STATIC ${QUORVEL_GTEST_SRC}/src/gtest-all.cc)
add_library(gtest_main STATIC ${QUORVEL_GTEST_SRC}/src/gtest_main.cc)
foreach(lib gtest gtest_main)
  target_include_directories(${lib} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/gtest-custom)
  target_include_directories(${lib} SYSTEM PUBLIC ${QUORVEL_GTEST_SRC}/include
                             PRIVATE ${QUORVEL_GTEST_SRC})
  target_compile_options(${lib} PRIVATE -w)
  add_library(GTest::${lib} ALIAS ${lib})
endforeach()
target_link_libraries(gtest_main PUBLIC gtest)

# The test helpers of the native build, with Windows paths and Wine.
enable_testing()
include(GoogleTest)
set(QUORVEL_TEST_PATH_PREFIX ${QUORVEL_WIN_DRIVE})
set(QUORVEL_TEST_TMP "${QUORVEL_WIN_DRIVE}${CMAKE_BINARY_DIR}/test-tmp")
set(QUORVEL_TEST_DISCOVERY_TIMEOUT 60)
set(QUORVEL_TCLSH_ENVIRONMENT "QUORVEL_TEST_TMP=${QUORVEL_TEST_TMP}")
set(QUORVEL_TCLSH "${QUORVEL_WINE};${QUORVEL_TCL_WIN}/bin/tclsh86.exe" CACHE STRING "tclsh under Wine")
include(${QUORVEL_ROOT}/tests/support/test_helpers.cmake)

foreach(sub nffr host plugin context query load import tools cli viewer)
  if(EXISTS ${QUORVEL_ROOT}/tests/${sub}/CMakeLists.txt)
    add_subdirectory(${QUORVEL_ROOT}/tests/${sub} tests/${sub})
  endif()
endforeach()
