# Installing the programs and their manual pages, and the Debian package made from that
# install by `cpack -G DEB`. Included from the top-level CMakeLists.txt after the programs.
include(GNUInstallDirs)

install(TARGETS velto-fprint velto-fprint-replay velto-fprint-embed velto-fprint-report
                velto-fprint-folder
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES man/velto-fprint.1 man/velto-fprint-replay.1 man/velto-fprint-embed.1
              man/velto-fprint-report.1 man/velto-fprint-folder.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velto-fprint)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "velto")
set(CPACK_PACKAGE_CONTACT "velto-fprint maintainers <velto-fprint@velto.invalid>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "groups photos into bursts and series of one scene by how they look")
# The extended description: continuation lines of a control field start with a space, and an
# empty line is written as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "groups photos into bursts and series of one scene by how they look
 velto-fprint splits an ordered list of photos, already divided into time groups
 by the calling photo application, into groups of consecutive, similar-looking
 shots. It computes an image embedding of every photo with a network built into
 the program and cuts time groups where neighbouring photos differ the most.
 .
 Also contains velto-fprint-replay (grouping from recorded embeddings),
 velto-fprint-embed (recording them), velto-fprint-report (an HTML page that
 shows how a job was grouped) and velto-fprint-folder (the photos of folders
 grouped by their capture times and looks, the series tagged in the XMP
 sidecars that darktable and digiKam read).")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps (package dpkg-dev) turns the programs' shared libraries into Depends.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# velto-fprint_<version>_<arch>.deb: no Debian revision is set, so none appears.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
