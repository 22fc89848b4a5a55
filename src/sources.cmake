# sources.cmake: the plug-in's source files, listed once for the native build (src/) and the
# 32-bit Windows build (win/).
set(QUORVEL_PLUGIN_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/base/sinks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plugin/entry.cpp
  ${CMAKE_CURRENT_LIST_DIR}/plugin/info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/context.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/paths.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/reader_uses.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/script.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/timescale.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/tree_build.cpp
  ${CMAKE_CURRENT_LIST_DIR}/context/var_types.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query/file_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/query/wave_info.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/bus.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/kinds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/load_handlers.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/scalar.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/split.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/text_arena.cpp
  ${CMAKE_CURRENT_LIST_DIR}/load/time_list.cpp)
