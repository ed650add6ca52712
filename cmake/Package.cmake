# Packages of the installed tree, made by `cpack` in a build of the real tools (or by
# `cmake --workflow --preset package`) into <build>/packages: a .tar.gz on every platform, and on
# Linux a .deb installing under /usr whose Depends dpkg-shlibdeps (package dpkg-dev) computes from
# the shared libraries that the tools link.

# Only a placeholder: whoever publishes packages sets the address that users write to.
set(PACKAGE_CONTACT "deskhelpers maintainers <maintainers@deskhelpers.invalid>"
    CACHE STRING "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${PACKAGE_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "helpers that insert text and report keys and active applications for a host")
# Line by line, as the extended description of a Debian package is laid out.
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
       "Three small command-line tools that a host application starts as child"
       "processes so that they act on the user's desktop for it, each writing plain"
       "lines on standard output: scribbet puts a text into the focused text field of"
       "a target application, through the accessibility interface or by bringing it"
       "to the front and pasting; gripwell reports when a modifier key is held and"
       "released; vantor reports every application activation."
       "On Linux they work on an X11 desktop with its accessibility bus (AT-SPI).")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_GENERATOR TGZ)
if(NOT APPLE)
  list(APPEND CPACK_GENERATOR DEB)
  # On a Mac, stripping would undo the linker's signature of the arm64 slice; the binaries are
  # signed for release there anyway, after packaging.
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
