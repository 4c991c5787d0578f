# What users install, and the packages that carry it: on Linux the program,
# its manual page and its bash completion (cmake --install, and a .deb); on
# Windows vorninst.exe and a text on where the add-on's files go (a .zip).

# The version is the one the About box shows, which --version prints too.
file(STRINGS ${CMAKE_CURRENT_SOURCE_DIR}/res/controls.def VORN_VERSION_LINE REGEX "^VORN_CONTROL\\(ABOUT, \"Version ")
string(REGEX REPLACE "^[^\"]*\"Version ([^\"]+)\".*$" "\\1" VORN_VERSION "${VORN_VERSION_LINE}")
if(NOT VORN_VERSION MATCHES "^[0-9][0-9a-z.+~]*$")
  message(FATAL_ERROR "No version in the About box of res/controls.def: \"${VORN_VERSION_LINE}\"")
endif()

set(CPACK_PACKAGE_NAME vorninst)
set(CPACK_PACKAGE_VERSION ${VORN_VERSION})
set(CPACK_PACKAGE_VENDOR "the VORN Installer team")
set(CPACK_PACKAGE_CONTACT "VORN Installer maintainers <maintainers@users.noreply.c-seed-ba757ec7.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepare SD cards for the VORN camera add-on")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(VORN_PACKAGING ${CMAKE_CURRENT_SOURCE_DIR}/packaging)

if(CMAKE_SYSTEM_NAME STREQUAL "Windows")
  # One folder: the program and how to put the add-on's files beside it.
  install(TARGETS vorninst RUNTIME DESTINATION .)
  configure_file(${VORN_PACKAGING}/windows-readme.txt ${CMAKE_CURRENT_BINARY_DIR}/README.txt NEWLINE_STYLE CRLF)
  configure_file(${CMAKE_CURRENT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  include(CPack)
  return()
endif()

include(GNUInstallDirs)
install(TARGETS vorninst RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The manual page, written from the built program's own help texts.
set(VORN_MAN ${CMAKE_CURRENT_BINARY_DIR}/vorninst.1)
add_custom_command(OUTPUT ${VORN_MAN}.gz
  COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cmake/make_man.sh $<TARGET_FILE:vorninst>
          ${VORN_PACKAGING}/man-sections.roff ${VORN_MAN}
  COMMAND gzip -9nf ${VORN_MAN}
  DEPENDS vorninst ${CMAKE_CURRENT_SOURCE_DIR}/cmake/make_man.sh ${VORN_PACKAGING}/man-sections.roff
  COMMENT "Writing the manual page vorninst(1) from vorninst --help")
add_custom_target(vorn_man ALL DEPENDS ${VORN_MAN}.gz)
install(FILES ${VORN_MAN}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${VORN_PACKAGING}/vorninst.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME vorninst)

# The window: its program, what the desktop shows of it (a menu entry, the
# software centre's description, icons), the polkit action through which it
# starts the engine, and its manual page.
set(VORN_DEPENDS "dosfstools, mtools")
if(TARGET vorninst-window)
  install(TARGETS vorninst-window RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(VORN_DESKTOP ${VORN_PACKAGING}/desktop)
  set(VORN_APP_ID net.vorninst.Installer)
  configure_file(${VORN_DESKTOP}/${VORN_APP_ID}.metainfo.xml ${CMAKE_CURRENT_BINARY_DIR}/${VORN_APP_ID}.metainfo.xml @ONLY)
  install(FILES ${VORN_DESKTOP}/${VORN_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${VORN_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${VORN_DESKTOP}/${VORN_APP_ID}.policy DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
  foreach(size 16 32 48 64 128 256)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/res/icons/${size}x${size}/vorninst.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
  set(VORN_WINDOW_MAN ${CMAKE_CURRENT_BINARY_DIR}/vorninst-window.1)
  configure_file(${VORN_PACKAGING}/vorninst-window.1 ${VORN_WINDOW_MAN} @ONLY)
  add_custom_command(OUTPUT ${VORN_WINDOW_MAN}.gz
    COMMAND gzip -9nc ${VORN_WINDOW_MAN} > ${VORN_WINDOW_MAN}.gz
    DEPENDS ${VORN_WINDOW_MAN})
  add_custom_target(vorn_window_man ALL DEPENDS ${VORN_WINDOW_MAN}.gz)
  install(FILES ${VORN_WINDOW_MAN}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Without pkexec the window, run as a user, cannot start its engine.
  string(APPEND VORN_DEPENDS ", pkexec")
endif()

# What a Debian package must hold besides (its copyright and changelog):
# installed only into the package, never by a plain cmake --install.
configure_file(${VORN_PACKAGING}/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  COMMAND gzip -9nc ${CMAKE_CURRENT_BINARY_DIR}/changelog > ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog)
add_custom_target(vorn_changelog ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
install(FILES ${VORN_PACKAGING}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_GENERATOR DEB)
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_CURRENT_BINARY_DIR};vorninst;ALL;/" "${CMAKE_CURRENT_BINARY_DIR};vorninst;debian;/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# libc, libstdc++ and libmount as dpkg-shlibdeps finds them; the tools it runs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${VORN_DEPENDS}")
# The summary comes first by itself.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "VORN Installer prepares an SD card so that the camera firmware add-on VORN
starts by itself: it reports a card's capacity, partition table, file system
and boot mark, writes boot marks and partition tables, formats the card,
copies the add-on's files, runs the guided New Install and Version Up, and
copies the camera's pictures to the PC. It has a window on the desktop
(vorninst-window, which runs as the user and asks once for the password of
the part that writes the cards), a window in the terminal, and one command
per button with its questions answered by options.")
include(CPack)

# The package as users get it, tried by the test command once
# scripts/package.sh has made it there.
set(VORN_PACKAGES_DIR "" CACHE PATH "The folder of the packages to test (scripts/package.sh sets it)")
if(VORN_PACKAGES_DIR)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE VORN_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  foreach(check Files Program ManPage Completion Desktop Lintian)
    add_test(NAME package.${check} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/tests/package/installed_package.sh
      ${check} ${VORN_PACKAGES_DIR}/vorninst_${VORN_VERSION}_${VORN_DEB_ARCH}.deb)
    set_tests_properties(package.${check} PROPERTIES LABELS package TIMEOUT 120)
  endforeach()
endif()
