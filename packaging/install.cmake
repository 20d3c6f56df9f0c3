# cmake --install: the programs and the LIT writer in a private program folder
# (<libexec>/orvo), orvo and Newsdesk on the PATH, the data files, the desktop
# integration, man pages, and the bus activation files and systemd user unit
# that start the installed servers.
set(ORVO_PROGRAM_DIR ${CMAKE_INSTALL_LIBEXECDIR}/orvo)
set(ORVO_FULL_PROGRAM_DIR ${CMAKE_INSTALL_FULL_LIBEXECDIR}/orvo)
set(ORVO_FULL_BINDIR ${CMAKE_INSTALL_FULL_BINDIR})
set(ORVO_DATA_DIR ${CMAKE_INSTALL_DATADIR}/orvo)
set(ORVO_PACKAGING ${PROJECT_SOURCE_DIR}/packaging)
set(ORVO_PACKAGING_OUT ${PROJECT_BINARY_DIR}/packaging)

install(TARGETS Gatherer Bookbinder Timekeeper Newsdesk orvo orvo-updates orvo-try-mask
  RUNTIME DESTINATION ${ORVO_PROGRAM_DIR})
# liblitgen.so is loaded by Bookbinder from its own folder, so it lives beside
# the programs.
if(TARGET litgen)
  install(TARGETS litgen-pack RUNTIME DESTINATION ${ORVO_PROGRAM_DIR})
  install(TARGETS litgen LIBRARY DESTINATION ${ORVO_PROGRAM_DIR})
else()
  message(WARNING "The LIT writer is not part of the build: an installed Bookbinder cannot write eBooks.")
endif()

# The two commands a user types. Relative links, so the tree can be moved
# (a package, a scratch root); the programs find their folder through
# /proc/self/exe, which leads past the link.
foreach(program orvo Newsdesk)
  file(RELATIVE_PATH target ${CMAKE_INSTALL_FULL_BINDIR} ${ORVO_FULL_PROGRAM_DIR}/${program})
  install(CODE "
    set(link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\")
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    message(STATUS \"Installing: \${link} -> ${target}\")
    file(CREATE_LINK \"${target}\" \"\${link}\" SYMBOLIC)")
endforeach()

# Data: the reader's help page, the eBook templates (the generator carries its
# own copy; these are for reading and for a user's own stylesheet), and the
# demo catalogue with its three demo sites.
install(FILES ${PROJECT_SOURCE_DIR}/newsdesk/help/newsdesk.html DESTINATION ${ORVO_DATA_DIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/bookbinder/templates/ DESTINATION ${ORVO_DATA_DIR}/templates)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo-data/ DESTINATION ${ORVO_DATA_DIR}/demo-data)

# Desktop integration.
install(FILES ${PROJECT_SOURCE_DIR}/newsdesk/icons/orvo.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME org.orvo.Newsdesk.svg)
install(FILES ${ORVO_PACKAGING}/man/orvo.1 ${ORVO_PACKAGING}/man/orvo-updates.1 ${ORVO_PACKAGING}/man/Newsdesk.1
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The files that name installed programs (the desktop entry, the bus
# activation files, the systemd user unit) are written at install time, for
# the prefix actually installed to (cmake --install --prefix, CPack).
install(CODE "
  set(ORVO_PACKAGING \"${ORVO_PACKAGING}\")
  set(ORVO_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
  set(ORVO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ORVO_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")")
install(SCRIPT ${ORVO_PACKAGING}/installed_files.cmake)
