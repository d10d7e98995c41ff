# Install-time part of the install rules: files that name the installed
# program's directory are written from their templates with the prefix of
# this installation, and the stand-in agent, installed under a new name, is
# stripped along with the program when asked.  Expects ZV_SOURCE_DIR,
# ZV_STAGE_DIR, ZV_BINDIR, ZV_DOCDIR (these two relative to the prefix) and
# ZV_STRIP.

if(IS_ABSOLUTE "${ZV_BINDIR}")
  set(bindir "${ZV_BINDIR}")
else()
  set(bindir "${CMAKE_INSTALL_PREFIX}/${ZV_BINDIR}")
endif()
set(ZV_BINDIR "${bindir}")

function(zv_install_configured template destination name)
  configure_file("${ZV_SOURCE_DIR}/${template}" "${ZV_STAGE_DIR}/${name}" @ONLY)
  file(INSTALL "${ZV_STAGE_DIR}/${name}" DESTINATION "${destination}")
endfunction()

# A runtime configuration already in place is the administrator's: it is
# kept, whatever the template says now.
if(EXISTS "$ENV{DESTDIR}${bindir}/etc/.runtime.xml")
  message(STATUS "Kept: $ENV{DESTDIR}${bindir}/etc/.runtime.xml")
else()
  zv_install_configured(packaging/runtime.xml.in "${bindir}/etc" .runtime.xml)
endif()

set(examples "${CMAKE_INSTALL_PREFIX}/${ZV_DOCDIR}/examples")
zv_install_configured(packaging/runtime.xml.in "${examples}" runtime.xml)
zv_install_configured(examples/systemd/zvclient-recover.service.in "${examples}" zvclient-recover.service)
zv_install_configured(examples/cron/zvclient-recover.in "${examples}" zvclient-recover.cron)

set(agent "$ENV{DESTDIR}${bindir}/zvagent-standin")
if(CMAKE_INSTALL_DO_STRIP AND ZV_STRIP AND EXISTS "${agent}")
  execute_process(COMMAND "${ZV_STRIP}" "${agent}")
endif()
