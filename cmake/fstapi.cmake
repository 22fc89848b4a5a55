# fstapi.cmake: the FST library (fstapi.c with lz4.c and fastlz.c, by Tony Bybell and others,
# under the MIT and BSD-2-Clause licences written at the top of each file), compiled from the
# sources Debian's verilator package installs, as a static library of its own: fstapi.
# Users test `if(TARGET fstapi)`: without the sources the FST input is left out.
include_guard(GLOBAL)
set(QUORVEL_FST_DIR /usr/share/verilator/include/gtkwave CACHE PATH "Folder holding fstapi.c")
find_package(ZLIB QUIET)
if(NOT WIN32 AND ZLIB_FOUND AND EXISTS ${QUORVEL_FST_DIR}/fstapi.c AND
   EXISTS ${QUORVEL_FST_DIR}/lz4.c AND EXISTS ${QUORVEL_FST_DIR}/fastlz.c)
  add_library(fstapi STATIC ${QUORVEL_FST_DIR}/fstapi.c ${QUORVEL_FST_DIR}/lz4.c
                            ${QUORVEL_FST_DIR}/fastlz.c)
  # Not our code: built as it comes, without our warning settings or the sanitizers.
  set_target_properties(fstapi PROPERTIES LINKER_LANGUAGE C)
  target_compile_options(fstapi PRIVATE -w -fno-sanitize=all)
  target_compile_definitions(fstapi PRIVATE FST_CONFIG_INCLUDE="fst_config.h")
  target_include_directories(fstapi SYSTEM PUBLIC ${QUORVEL_FST_DIR})
  target_link_libraries(fstapi PUBLIC ZLIB::ZLIB)
  message(STATUS "FST library: compiled from ${QUORVEL_FST_DIR}")
else()
  message(STATUS "FST library: no fstapi.c, lz4.c, fastlz.c in ${QUORVEL_FST_DIR} (Debian "
                 "package verilator); FST input is left out")
endif()
