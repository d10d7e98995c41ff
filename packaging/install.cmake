# Install layout and the Debian package, below the prefix (/usr for the
# package):
#
#   lib/zvclient/ZVClient               the program
#   lib/zvclient/etc -> CONF            the program looks for etc/.runtime.xml
#                                       beside its own file; the link leads
#                                       to the configuration directory CONF:
#                                       /etc/zvclient under /usr, else
#                                       PREFIX/etc/zvclient
#   CONF/.runtime.xml                   the runtime configuration (a conffile
#                                       in the package); never replaced
#   lib/zvclient/recover-all            recovers every log place, for the
#                                       scheduled examples
#   lib/zvclient/zvagent-standin        the stand-in agent, out of PATH
#   bin/ZVClient -> ../lib/zvclient/ZVClient
#   share/man/man1/ZVClient.1.gz        the manual page
#   share/bash-completion/completions/ZVClient
#   share/doc/zvclient/                 README, copyright, changelog, examples/
include(GNUInstallDirs)

# Installing and packaging take what the build made and never start a build
# of their own (the test suite packages the tree it runs from).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(ZV_LIBDIR lib/zvclient)
set(ZV_PACKAGE_MAINTAINER "ZVClient developers <root@localhost>" CACHE STRING
  "The Maintainer field of the Debian package and of its changelog")
set(ZV_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/zvclient)

install(TARGETS ZVClient RUNTIME DESTINATION ${ZV_LIBDIR})
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/recover-all DESTINATION ${ZV_LIBDIR})
if(TARGET zvagent)
  install(PROGRAMS $<TARGET_FILE:zvagent> DESTINATION ${ZV_LIBDIR} RENAME zvagent-standin)
endif()

# The manual page and the changelog are built with the program, so that
# `man ./ZVClient.1` works in the build folder as soon as the program does.
configure_file(${CMAKE_SOURCE_DIR}/docs/ZVClient.1.in ${CMAKE_BINARY_DIR}/ZVClient.1 @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/changelog @ONLY)
set(ZV_MAN_PAGE ${CMAKE_BINARY_DIR}/ZVClient.1)
set(ZV_CHANGELOG ${CMAKE_BINARY_DIR}/changelog)
find_program(ZV_GZIP gzip)
if(ZV_GZIP)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/ZVClient.1.gz ${CMAKE_BINARY_DIR}/changelog.gz
    COMMAND ${ZV_GZIP} -9nkf ZVClient.1 changelog
    DEPENDS ${CMAKE_BINARY_DIR}/ZVClient.1 ${CMAKE_BINARY_DIR}/changelog
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR} VERBATIM)
  set(ZV_MAN_PAGE ${CMAKE_BINARY_DIR}/ZVClient.1.gz)
  set(ZV_CHANGELOG ${CMAKE_BINARY_DIR}/changelog.gz)
endif()
add_custom_target(zv_man_page DEPENDS ${ZV_MAN_PAGE} ${ZV_CHANGELOG})
add_dependencies(ZVClient zv_man_page)
install(FILES ${ZV_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${CMAKE_SOURCE_DIR}/packaging/ZVClient.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ZVClient)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright ${ZV_CHANGELOG}
  DESTINATION ${ZV_DOCDIR})
install(FILES ${CMAKE_SOURCE_DIR}/examples/systemd/zvclient-recover.timer
  DESTINATION ${ZV_DOCDIR}/examples)

# The links, the runtime configuration and the examples name installed
# paths, which are known only when installing (--prefix, or the package's
# prefix), so they are made then.
install(CODE "
  set(ZV_SOURCE_DIR \"${CMAKE_SOURCE_DIR}\")
  set(ZV_STAGE_DIR \"${CMAKE_BINARY_DIR}/install-stage\")
  set(ZV_LIBDIR \"${ZV_LIBDIR}\")
  set(ZV_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ZV_DOCDIR \"${ZV_DOCDIR}\")
  set(ZV_STRIP \"${CMAKE_STRIP}\")")
install(SCRIPT ${CMAKE_SOURCE_DIR}/packaging/install_configured.cmake)

# cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zvclient)
set(CPACK_PACKAGE_VENDOR "Zelvane Systems")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line client of the Zelvane Agent")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZV_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# https loads OpenSSL at run time; plain http runs without it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libssl3")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "ZVClient submits messages, files of messages, mapped transactions and
data-map items to the Zelvane Agent over HTTP, fetches its responses and
status, and keeps what it could not deliver in a recovery log that a later
run (for example a systemd timer) sends again.")
# dpkg keeps a runtime configuration that was changed locally.
file(WRITE ${CMAKE_BINARY_DIR}/debian/conffiles "/etc/zvclient/.runtime.xml\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/debian/conffiles)
include(CPack)
