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

# The commands a user types. Relative links, so the tree can be moved
# (a package, a scratch root); the programs find their folder through
# /proc/self/exe, which leads past the link.
foreach(program orvo Newsdesk orvo-updates)
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
# make-images.sh drew the demo pictures; the installed demo needs only them.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/demo-data/ DESTINATION ${ORVO_DATA_DIR}/demo-data
  PATTERN make-images.sh EXCLUDE)

# Desktop integration.
install(FILES ${PROJECT_SOURCE_DIR}/newsdesk/icons/orvo.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME org.orvo.Newsdesk.svg)
foreach(size 16 22 24 32 48 64 128 256)
  install(FILES ${ORVO_PACKAGING}/icons/${size}x${size}/org.orvo.Newsdesk.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${ORVO_PACKAGING}/icons/org.orvo.Newsdesk-symbolic.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/symbolic/apps)

# Man pages and the changelog compressed as Debian ships them (gzip -9n: no
# name or time stamp inside, so the package is the same on every build).
set(ORVO_GZIPPED)
foreach(source man/orvo.1 man/orvo-updates.1 man/Newsdesk.1 doc/changelog)
  set(output ${ORVO_PACKAGING_OUT}/${source}.gz)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${ORVO_PACKAGING_OUT}/man ${ORVO_PACKAGING_OUT}/doc
    COMMAND gzip -9n -c ${ORVO_PACKAGING}/${source} > ${output}
    DEPENDS ${ORVO_PACKAGING}/${source} VERBATIM)
  list(APPEND ORVO_GZIPPED ${output})
endforeach()
add_custom_target(orvo_gzipped_docs ALL DEPENDS ${ORVO_GZIPPED})
install(FILES ${ORVO_PACKAGING_OUT}/man/orvo.1.gz ${ORVO_PACKAGING_OUT}/man/orvo-updates.1.gz
  ${ORVO_PACKAGING_OUT}/man/Newsdesk.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The package's documentation folder is named after the package, whatever the
# project is called.
set(ORVO_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/orvo)
install(FILES ${ORVO_PACKAGING}/doc/copyright ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${ORVO_DOC_DIR})
install(FILES ${ORVO_PACKAGING_OUT}/doc/changelog.gz DESTINATION ${ORVO_DOC_DIR})
install(FILES ${ORVO_PACKAGING}/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME orvo)

# The files that name installed programs (the desktop entry, the bus
# activation files, the systemd user unit) are written at install time, for
# the prefix actually installed to (cmake --install --prefix, CPack).
install(CODE "
  set(ORVO_PACKAGING \"${ORVO_PACKAGING}\")
  set(ORVO_LIBEXECDIR \"${CMAKE_INSTALL_LIBEXECDIR}\")
  set(ORVO_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(ORVO_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  set(PROJECT_VERSION \"${PROJECT_VERSION}\")
  set(ORVO_HOMEPAGE \"${PROJECT_HOMEPAGE_URL}\")")
install(SCRIPT ${ORVO_PACKAGING}/installed_files.cmake)
