# sources.cmake: the reader library's and the writer's source files, listed once for the native
# build and the 32-bit Windows build (win/).
set(NFFR_READER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/reader/file_access.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reader/hooks.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reader/object.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reader/parse.cpp
  ${CMAKE_CURRENT_LIST_DIR}/reader/traverser.cpp
  ${CMAKE_CURRENT_LIST_DIR}/meta_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/segment_codec.cpp)
set(NFFR_WRITER_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/meta_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/segment_codec.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer/stream_writer.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer/streamed.cpp
  ${CMAKE_CURRENT_LIST_DIR}/writer/writer.cpp)
