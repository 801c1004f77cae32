# SPDX-License-Identifier: MIT
# The manual pages (from their scdoc sources in docs/man), the files a desktop
# and a shell read (AppStream metainfo, bash completion), and the Debian
# package that CPack makes of the project's own install rules.

set(VELMORIN_MAN_PAGES velmorin-cli velmorin-sim)
if(VELMORIN_BUILD_GUI)
  list(APPEND VELMORIN_MAN_PAGES velmorin)
endif()

# The pages are part of `all` when scdoc is there; the package cannot be made
# without them, so `manual_pages` fails and says why when it is not.
find_program(VELMORIN_SCDOC scdoc)
find_program(VELMORIN_GZIP gzip)
if(VELMORIN_SCDOC AND VELMORIN_GZIP)
  set(pages)
  foreach(page IN LISTS VELMORIN_MAN_PAGES)
    set(source ${PROJECT_SOURCE_DIR}/docs/man/${page}.1.scd)
    set(output ${PROJECT_BINARY_DIR}/man/${page}.1)
    # gzip -n leaves out the name and the time, so that the package is the
    # same from one build to the next.
    add_custom_command(OUTPUT ${output} ${output}.gz
                       COMMAND ${VELMORIN_SCDOC} < ${source} > ${output}
                       COMMAND ${VELMORIN_GZIP} -9 -n -c ${output} > ${output}.gz
                       DEPENDS ${source}
                       COMMENT "Manual page ${page}(1)"
                       VERBATIM)
    list(APPEND pages ${output} ${output}.gz)
    install(FILES ${output}.gz DESTINATION share/man/man1)
  endforeach()
  add_custom_target(manual_pages ALL DEPENDS ${pages})
else()
  message(STATUS "scdoc or gzip not found: no manual pages (scripts/install-deps installs them)")
  add_custom_target(manual_pages
                    COMMAND ${CMAKE_COMMAND} -E echo
                            "The manual pages need scdoc and gzip: run scripts/install-deps"
                    COMMAND ${CMAKE_COMMAND} -E false
                    VERBATIM)
endif()

if(VELMORIN_BUILD_GUI)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/velmorin.metainfo.xml DESTINATION share/metainfo)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/velmorin-cli.bash-completion
        DESTINATION share/bash-completion/completions RENAME velmorin-cli)

# Debian's own layout for a package's documents: the copyright in the
# machine-readable form, the changelog compressed (changelog.gz: the version
# has no Debian revision, so the package is a native one). The changelog's newest
# entry names the version being packaged.
file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog newestEntry LIMIT_COUNT 1)
if(NOT newestEntry MATCHES "^velmorin \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog: the newest entry is not for version "
                      "${PROJECT_VERSION}: \"${newestEntry}\"")
endif()
if(VELMORIN_GZIP)
  set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
                     COMMAND ${VELMORIN_GZIP} -9 -n -c
                             ${PROJECT_SOURCE_DIR}/packaging/debian/changelog > ${changelog}
                     DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog
                     VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog})
  install(FILES ${changelog} DESTINATION share/doc/velmorin)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION share/doc/velmorin)

# The Debian package: `make package` configures a tree for the prefix /usr
# (where udev reads the rule from) and runs `cpack` in it.
set(VELMORIN_PACKAGE_MAINTAINER
    "The velmorin developers <maintainers@users.noreply.c-seed-40bf20fd.example>"
    CACHE STRING "The Maintainer field of the Debian package")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmorin)
set(CPACK_PACKAGE_VENDOR "The velmorin developers")
set(CPACK_PACKAGE_CONTACT ${VELMORIN_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware update tool for Varno Kestrion chargers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORIN_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The long description under the synopsis; CPack indents its lines and turns
# the empty one into the control file's paragraph break.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "velmorin writes firmware into Varno Kestrion battery chargers through the
charger's bootloader, over a serial port, a USB serial adapter or USB HID.

The package holds the window (velmorin, with a station window for a
production line), the command-line tool (velmorin-cli: info, list, update,
station, history, doctor, the maker's catalogue), the charger simulator
(velmorin-sim), and a udev rule that gives the chargers to the logged-in
user and keeps ModemManager away from their serial ports.")
# dpkg-shlibdeps names the libraries the programs link against, with the
# versions their symbols need.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS udev)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
