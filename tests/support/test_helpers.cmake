# test_helpers.cmake: the test-support library and the functions that add GoogleTest programs and
# tcltest scripts, shared by the native build (tests/CMakeLists.txt) and the Windows run build
# (win/run.cmake). Set before including:
#   QUORVEL_TEST_TMP          the tests' temporary folder, as the test programs spell it
#   QUORVEL_TEST_PATH_PREFIX  put before every path handed to a test program ("" natively,
#                             Wine's drive letter on Windows)
#   QUORVEL_TEST_DISCOVERY_TIMEOUT  seconds a test program may take to list its tests
set(QUORVEL_TEST_SUPPORT_DIR ${CMAKE_CURRENT_LIST_DIR})

# The test-support library every test program links: temporary folders, the interpreter
# standing in for the host's, the preset query result, and the leak suppressions for the
# reader's quarantined objects. Its objects are linked whole, so the suppressions are found.
add_library(quorvel_test_support OBJECT
  ${QUORVEL_TEST_SUPPORT_DIR}/host_interp.cpp
  ${QUORVEL_TEST_SUPPORT_DIR}/lsan_quarantine.cpp
  ${QUORVEL_TEST_SUPPORT_DIR}/preset_result.cpp
  ${QUORVEL_TEST_SUPPORT_DIR}/temp_dir.cpp)
target_include_directories(quorvel_test_support PUBLIC ${QUORVEL_TEST_SUPPORT_DIR}
                           ${QUORVEL_INCLUDE_DIR} ${QUORVEL_TCL_INCLUDE})
target_link_libraries(quorvel_test_support PUBLIC GTest::gtest ${QUORVEL_TCL_LIBRARY})

# add_quorvel_test(name source... [LIBS lib...]): one GoogleTest program, each test a CTest test.
function(add_quorvel_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} quorvel_test_support GTest::gtest
                                        GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT ${QUORVEL_TEST_DISCOVERY_TIMEOUT}
    PROPERTIES ENVIRONMENT "QUORVEL_TEST_TMP=${QUORVEL_TEST_TMP}")
endfunction()

# add_quorvel_tcltest(file.test): a tcltest script run by the vexa shell with the plug-in loaded.
function(add_quorvel_tcltest file)
  get_filename_component(stem ${file} NAME_WE)
  get_filename_component(dir ${CMAKE_CURRENT_SOURCE_DIR} NAME)
  set(prefix "${QUORVEL_TEST_PATH_PREFIX}")
  # The target's name, so that CTest runs it through the cross-compiling emulator if any.
  add_test(NAME tcl.${dir}.${stem}
           COMMAND vexa ${prefix}${QUORVEL_TEST_SUPPORT_DIR}/run_tcltest.tcl
                   ${prefix}${CMAKE_CURRENT_SOURCE_DIR}/${file})
  set_tests_properties(tcl.${dir}.${stem} PROPERTIES ENVIRONMENT
    "QUORVEL_PLUGIN=${prefix}$<TARGET_FILE:quorvel>;FSDBGEN=${prefix}$<TARGET_FILE:fsdbgen>;QUORVEL_TEST_TMP=${QUORVEL_TEST_TMP}")
endfunction()
