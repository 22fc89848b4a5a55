# package.cmake: the install rules and the Debian package. cmake --install build --prefix P puts
# the programs in P/bin, the libraries in P/lib and the Tcl package in P/lib/vexaVERSION; every
# program and library finds the others through a run path relative to itself ($ORIGIN), so the
# tree works wherever it is moved. cpack -G DEB (in the build folder) packs the same tree for /usr.
set(QUORVEL_INSTALLED vexa fsdbgen vexa_tcl vexahost quorvel nffr)
set_target_properties(${QUORVEL_INSTALLED} PROPERTIES INSTALL_RPATH "\$ORIGIN/../lib")
install(TARGETS vexa fsdbgen RUNTIME DESTINATION bin)
install(TARGETS vexa_tcl vexahost quorvel nffr LIBRARY DESTINATION lib)

set(host ${CMAKE_SOURCE_DIR}/platform/host)
install(FILES ${CMAKE_BINARY_DIR}/platform/host/install/pkgIndex.tcl DESTINATION ${VEXA_PACKAGE_DIR})
install(FILES ${host}/tcl/cache.tcl DESTINATION ${VEXA_PACKAGE_DIR}/tcl)
foreach(folder cli viewer shell draw)
  install(DIRECTORY ${host}/${folder}/ DESTINATION ${VEXA_PACKAGE_DIR}/${folder}
          FILES_MATCHING PATTERN "*.tcl")
endforeach()

# The Debian package quorvel_VERSION_amd64.deb, for Debian 12.
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VERSION ${VEXA_VERSION})
set(CPACK_PACKAGE_CONTACT "Quorvel developers <quorvel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "FSDB waveform plug-in with the vexa viewer and command line")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_STRIP_FILES ON)
# Debian 12's packages of what the programs link and load: Tcl (tclsh8.6 and libtcl8.6) and Tk
# (vexa view), zlib (VCD import of .vcd.gz), zstd (the reader's and writer's codec of layout
# 2), the C and C++ runtimes.
set(QUORVEL_DEB_DEPENDS tcl8.6 libtcl8.6 tk8.6 zlib1g libzstd1 libstdc++6 libgcc-s1 libc6)
list(JOIN QUORVEL_DEB_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
include(CPack)
