# Install-time part of the install rules: the links, and the files that name
# installed paths, written from their templates with the prefix of this
# installation; the stand-in agent, installed under a new name, is stripped
# along with the program when asked.  Expects ZV_SOURCE_DIR, ZV_STAGE_DIR,
# ZV_LIBDIR, ZV_BINDIR, ZV_DOCDIR (the last three relative to the prefix)
# and ZV_STRIP.

set(prefix "${CMAKE_INSTALL_PREFIX}")
set(ZV_LIBDIR "${prefix}/${ZV_LIBDIR}")
# Below /usr (the package) the configuration is the administrator's, in /etc.
if(prefix STREQUAL "/usr")
  set(ZV_CONFIG_DIR /etc/zvclient)
else()
  set(ZV_CONFIG_DIR "${prefix}/etc/zvclient")
endif()

function(zv_install_configured template destination name)
  configure_file("${ZV_SOURCE_DIR}/${template}" "${ZV_STAGE_DIR}/${name}" @ONLY)
  file(INSTALL "${ZV_STAGE_DIR}/${name}" DESTINATION "${destination}")
endfunction()

# A link from A (below the prefix) to TARGET, as written.
function(zv_install_link target link)
  set(path "$ENV{DESTDIR}${prefix}/${link}")
  get_filename_component(directory "${path}" DIRECTORY)
  file(MAKE_DIRECTORY "${directory}")
  file(REMOVE "${path}")
  file(CREATE_LINK "${target}" "${path}" SYMBOLIC)
  message(STATUS "Installing: ${path} -> ${target}")
endfunction()

# Between two top folders (/usr/lib to /etc) a link is absolute, within one
# it is relative, as Debian asks.
zv_install_link("${ZV_CONFIG_DIR}" "lib/zvclient/etc")
zv_install_link("../lib/zvclient/ZVClient" "${ZV_BINDIR}/ZVClient")

# A runtime configuration already in place is the administrator's: it is
# kept, whatever the template says now.
if(EXISTS "$ENV{DESTDIR}${ZV_CONFIG_DIR}/.runtime.xml")
  message(STATUS "Kept: $ENV{DESTDIR}${ZV_CONFIG_DIR}/.runtime.xml")
else()
  zv_install_configured(packaging/runtime.xml.in "${ZV_CONFIG_DIR}" .runtime.xml)
endif()

set(examples "${prefix}/${ZV_DOCDIR}/examples")
zv_install_configured(packaging/runtime.xml.in "${examples}" runtime.xml)
zv_install_configured(examples/systemd/zvclient-recover.service.in "${examples}" zvclient-recover.service)
zv_install_configured(examples/cron/zvclient-recover.in "${examples}" zvclient-recover.cron)

set(agent "$ENV{DESTDIR}${ZV_LIBDIR}/zvagent-standin")
if(CMAKE_INSTALL_DO_STRIP AND ZV_STRIP AND EXISTS "${agent}")
  execute_process(COMMAND "${ZV_STRIP}" "${agent}")
endif()
