# sources.cmake: the host's source files, listed once for the native build and the 32-bit
# Windows build (win/): the core library and the Tcl package.
set(HOST_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/core/registry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/tree.cpp
  ${CMAKE_CURRENT_LIST_DIR}/core/waveform.cpp)
set(HOST_TCL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/tcl/analysis.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/compare.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/condition.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/draw.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/drawmodel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/file_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/files.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/package.cpp
  ${CMAKE_CURRENT_LIST_DIR}/tcl/waves.cpp)
