# Runs at install time (install(SCRIPT)): writes the files that name the
# installed programs by their full path under the prefix being installed to.
# Set before it: ORVO_PACKAGING, ORVO_LIBEXECDIR, ORVO_BINDIR, ORVO_DATADIR,
# PROJECT_VERSION.
function(orvo_full_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "${CMAKE_INSTALL_PREFIX}/${dir}" PARENT_SCOPE)
  endif()
endfunction()

orvo_full_path(ORVO_FULL_PROGRAM_DIR "${ORVO_LIBEXECDIR}/orvo")
orvo_full_path(ORVO_FULL_BINDIR "${ORVO_BINDIR}")
orvo_full_path(data "${ORVO_DATADIR}")
orvo_full_path(prefix_lib "lib")
set(data "$ENV{DESTDIR}${data}")

# A prefix with spaces must stay one word on the Exec lines: double quotes for
# the desktop entry and the systemd unit, single quotes for the bus.
function(orvo_quote out path style)
  if(NOT path MATCHES "[ \t'\"\\$`]")
    set(${out} "${path}" PARENT_SCOPE)
  elseif(style STREQUAL "bus")
    string(REPLACE "'" "'\\''" path "${path}")
    set(${out} "'${path}'" PARENT_SCOPE)
  else()
    string(REGEX REPLACE "([\"`$\\])" "\\\\\\1" path "${path}")
    set(${out} "\"${path}\"" PARENT_SCOPE)
  endif()
endfunction()
orvo_quote(ORVO_DESKTOP_EXEC "${ORVO_FULL_BINDIR}/Newsdesk" desktop)
orvo_quote(ORVO_UNIT_EXEC "${ORVO_FULL_PROGRAM_DIR}/Timekeeper" desktop)

function(orvo_write template destination)
  configure_file("${ORVO_PACKAGING}/${template}" "${destination}" @ONLY)
  message(STATUS "Installing: ${destination}")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${destination}")
  set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
endfunction()

# The metainfo's releases, newest first, from the changelog's entries:
# "orvo (VERSION) ..." and their " -- NAME <MAIL>  Day, DD Mon YYYY ..." lines.
file(STRINGS "${ORVO_PACKAGING}/doc/changelog" lines REGEX "^(orvo \\(| -- )")
set(ORVO_RELEASES "")
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
foreach(line IN LISTS lines)
  if(line MATCHES "^orvo \\(([^)]+)\\)")
    set(version "${CMAKE_MATCH_1}")
  elseif(line MATCHES ", ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    list(FIND months "${CMAKE_MATCH_2}" month)
    math(EXPR month "${month} + 1")
    set(day "${CMAKE_MATCH_1}")
    string(LENGTH "${day}" length)
    if(length EQUAL 1)
      set(day "0${day}")
    endif()
    if(month LESS 10)
      set(month "0${month}")
    endif()
    string(APPEND ORVO_RELEASES "    <release version=\"${version}\" date=\"${CMAKE_MATCH_3}-${month}-${day}\"/>\n")
  endif()
endforeach()
string(STRIP "${ORVO_RELEASES}" ORVO_RELEASES)

orvo_write(org.orvo.Newsdesk.desktop.in "${data}/applications/org.orvo.Newsdesk.desktop")
orvo_write(org.orvo.Newsdesk.metainfo.xml.in "${data}/metainfo/org.orvo.Newsdesk.metainfo.xml")

# The session bus starts the installed servers on demand (a user's own
# "-RegServer" in ~/.local/share still comes first), and the systemd user unit
# runs Timekeeper from login on once a user enables it.
foreach(server "org.orvo.Gatherer2;Gatherer;-" "org.orvo.OrvoConvert;Bookbinder;-"
               "org.orvo.OrvoRunner;Timekeeper;SystemdService=orvo-timekeeper.service")
  list(GET server 0 ORVO_BUS_NAME)
  list(GET server 1 ORVO_BUS_PROGRAM)
  list(GET server 2 ORVO_BUS_EXTRA)
  if(ORVO_BUS_EXTRA STREQUAL "-")
    set(ORVO_BUS_EXTRA "")
  endif()
  orvo_quote(ORVO_BUS_EXEC "${ORVO_FULL_PROGRAM_DIR}/${ORVO_BUS_PROGRAM}" bus)
  orvo_write(dbus.service.in "${data}/dbus-1/services/${ORVO_BUS_NAME}.service")
endforeach()
orvo_write(orvo-timekeeper.service.in "$ENV{DESTDIR}${prefix_lib}/systemd/user/orvo-timekeeper.service")
