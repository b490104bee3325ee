# Install rules and the Debian package (cpack -G DEB). What is installed is
# what a distribution takes: stripped programs (cmake --install --strip,
# and cpack strips), man pages and changelogs compressed with gzip -9n, the
# copyright file in the machine-readable format, no maintainer scripts.

set(VESTREL_MAINTAINER "vestrel developers <vestrel-developers@example.org>"
  CACHE STRING "The Maintainer field of the Debian package")

# ---- Compressed copies, made at build time -------------------------------
set(VESTREL_GZ_DIR ${CMAKE_BINARY_DIR}/gz)
function(vestrel_gzip source gz)
  add_custom_command(OUTPUT ${VESTREL_GZ_DIR}/${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VESTREL_GZ_DIR}
    COMMAND sh -c "gzip -9nc \"$0\" > \"$1\"" ${source} ${VESTREL_GZ_DIR}/${gz}
    DEPENDS ${source} VERBATIM)
  set_property(GLOBAL APPEND PROPERTY VESTREL_GZ_FILES ${VESTREL_GZ_DIR}/${gz})
endfunction()

foreach(page vestrel-check vestrel-sim)
  configure_file(docs/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
  vestrel_gzip(${CMAKE_BINARY_DIR}/man/${page}.1 ${page}.1.gz)
  install(FILES ${VESTREL_GZ_DIR}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

# Debian's changelog of the package, and the project's own changelog as the
# upstream one. The package's revision is 1: the same sources, packaged once.
set(VESTREL_DEB_REVISION 1)
set(VESTREL_DEB_VERSION ${PROJECT_VERSION}-${VESTREL_DEB_REVISION})
configure_file(packaging/changelog.Debian.in ${CMAKE_BINARY_DIR}/packaging/changelog.Debian @ONLY)
vestrel_gzip(${CMAKE_BINARY_DIR}/packaging/changelog.Debian changelog.Debian.gz)
vestrel_gzip(${CMAKE_SOURCE_DIR}/CHANGELOG.md changelog.gz)

get_property(gz_files GLOBAL PROPERTY VESTREL_GZ_FILES)
add_custom_target(compressed-docs ALL DEPENDS ${gz_files})

# ---- Install --------------------------------------------------------------
install(TARGETS vestrel LIBRARY DESTINATION ${VESTREL_PLUGIN_DIR})
install(TARGETS vestrel-check vestrel-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES examples/vestrel.conf examples/demo.scn DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# The README links docs/parameters.md and docs/commands.md: they keep those
# places beside it, so the links work where the files are installed.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES docs/parameters.md docs/commands.md DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
install(FILES packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${VESTREL_GZ_DIR}/changelog.Debian.gz ${VESTREL_GZ_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR})

# ---- The Debian package ---------------------------------------------------
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vestrel)
set(CPACK_PACKAGE_CONTACT "${VESTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "moderation plug-in for the Corvex chat server")
# cpack puts the summary first, as the synopsis line.
set(CPACK_PACKAGE_DESCRIPTION
  "vestrel screens chat, whispers, pages, room changes, drawings, movement,
props, faces and names against decaying rate limits configured per room
class and room range, adds a command language with ranks and help, manages
member-owned rooms and reads a parameter file that operators can reload.
.
This package holds the plug-in, vestrel-check (which checks a parameter
file as the plug-in reads it) and vestrel-sim (which plays scenarios
against the plug-in on a substitute server).")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${VESTREL_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
# Where dpkg-dev is installed, dpkg-shlibdeps gives the library dependencies;
# otherwise they are listed by hand, without versions.
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  vestrel_left_out("dpkg-dev (dpkg-shlibdeps): the Debian package lists its library dependencies without versions")
endif()
include(CPack)
