# Run by cmake --install (and CPack) after the variables set just before it: fills the installed
# paths into the menu entry, its launcher and the manual page, and installs them. file(INSTALL)
# honours DESTDIR and records the files in the install manifest.
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(KALVEX_PROGRAM "${prefix}/bin/kalvex")
set(KALVEX_COMPANION "${prefix}/libexec/kalvex/ipconfig")
set(KALVEX_LAUNCHER "${prefix}/libexec/kalvex/kalvex-menu")
set(KALVEX_EXAMPLE "${prefix}/${KALVEX_DATADIR}/kalvex/kalvex.ini")
# The icon theme is looked up under /usr/local/share and /usr/share; under any other prefix the
# menu entry names the largest icon's file.
if(prefix STREQUAL "/usr" OR prefix STREQUAL "/usr/local")
  set(KALVEX_ICON kalvex)
else()
  set(KALVEX_ICON "${prefix}/${KALVEX_DATADIR}/icons/hicolor/256x256/apps/kalvex.png")
endif()

foreach(name kalvex.desktop kalvex-menu kalvex.1)
  configure_file("${KALVEX_TEMPLATES}/${name}.in" "${KALVEX_FILLED}/${name}" @ONLY)
endforeach()
execute_process(COMMAND gzip -9nf kalvex.1 WORKING_DIRECTORY "${KALVEX_FILLED}"
                RESULT_VARIABLE gzip_status)
if(NOT gzip_status EQUAL 0)
  message(FATAL_ERROR "gzip could not compress the manual page: ${gzip_status}")
endif()

file(INSTALL DESTINATION "${prefix}/${KALVEX_DATADIR}/applications" TYPE FILE
     FILES "${KALVEX_FILLED}/kalvex.desktop")
file(INSTALL DESTINATION "${prefix}/libexec/kalvex" TYPE PROGRAM FILES "${KALVEX_FILLED}/kalvex-menu")
file(INSTALL DESTINATION "${prefix}/${KALVEX_MANDIR}/man1" TYPE FILE
     FILES "${KALVEX_FILLED}/kalvex.1.gz")
