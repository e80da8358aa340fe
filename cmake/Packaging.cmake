# Install rules and the Debian package. Everything lands where the Filesystem Hierarchy Standard and
# the freedesktop specifications put it; `make package` builds with the `package` preset
# (prefix /usr, no tests) and calls CPack's DEB generator.
include(GNUInstallDirs)

set(STAYLOOM_PACKAGE_MAINTAINER "Stayloom developers <packages@stayloom.example>" CACHE STRING
    "Maintainer field of the Debian package")

# Created folders get 0755 whatever the umask of the one who builds the package.
set(STAYLOOM_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${STAYLOOM_DIRECTORY_PERMISSIONS})

set(STAYLOOM_DATA_DIR ${PROJECT_SOURCE_DIR}/data)
set(STAYLOOM_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/stayloom)
set(STAYLOOM_PACKAGING_BINARY_DIR ${PROJECT_BINARY_DIR}/packaging)
# The core, the program's own library and its desktop module are private to the program: no other
# package links them, so they stay out of the public library folders and the program finds them
# through its RUNPATH (the module beside its library, see ui/DesktopFace.hpp).
set(STAYLOOM_PRIVATE_LIBDIR ${CMAKE_INSTALL_LIBDIR}/stayloom)

install(TARGETS NodwardenCore LIBRARY DESTINATION ${STAYLOOM_PRIVATE_LIBDIR} NAMELINK_SKIP)
if(TARGET NodwardenApp)
  install(TARGETS NodwardenApp LIBRARY DESTINATION ${STAYLOOM_PRIVATE_LIBDIR} NAMELINK_SKIP)
  install(TARGETS stayloom-desktop LIBRARY DESTINATION ${STAYLOOM_PRIVATE_LIBDIR})
endif()

if(TARGET Stayloom)
  set_target_properties(Stayloom PROPERTIES INSTALL_RPATH ${CMAKE_INSTALL_FULL_LIBDIR}/stayloom)
  install(TARGETS Stayloom RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The build tree keeps the target's name (tests and `make run` start it there); installed, the
  # command is lower case like every other. install(TARGETS) has no rename, and it is the step
  # that rewrites the RUNPATH, so the file is renamed after it.
  install(CODE "
    set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(RENAME \"\${bin}/$<TARGET_FILE_NAME:Stayloom>\" \"\${bin}/stayloom\")
    message(STATUS \"Renamed: \${bin}/stayloom\")")
endif()

configure_file(${STAYLOOM_DATA_DIR}/stayloom.service.in
               ${STAYLOOM_PACKAGING_BINARY_DIR}/stayloom.service @ONLY)
install(FILES ${STAYLOOM_DATA_DIR}/org.stayloom.Stayloom.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${STAYLOOM_DATA_DIR}/org.stayloom.Stayloom.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${STAYLOOM_PACKAGING_BINARY_DIR}/stayloom.service
        DESTINATION ${CMAKE_INSTALL_PREFIX}/lib/systemd/user)

# Shell completions where each shell's own package looks for those of other packages.
install(FILES ${STAYLOOM_DATA_DIR}/completions/stayloom.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME stayloom)
install(FILES ${STAYLOOM_DATA_DIR}/completions/_stayloom
        DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
install(FILES ${STAYLOOM_DATA_DIR}/completions/stayloom.fish
        DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)

# Data that other parts of the program bring along; each is installed once it exists.
if(EXISTS ${STAYLOOM_DATA_DIR}/icons/hicolor)
  install(DIRECTORY ${STAYLOOM_DATA_DIR}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons
          DIRECTORY_PERMISSIONS ${STAYLOOM_DIRECTORY_PERMISSIONS})
endif()
if(EXISTS ${STAYLOOM_DATA_DIR}/legal)
  # The documents themselves; the resource file that also builds them into the program stays.
  install(DIRECTORY ${STAYLOOM_DATA_DIR}/legal/ DESTINATION ${CMAKE_INSTALL_DATADIR}/stayloom/legal
          DIRECTORY_PERMISSIONS ${STAYLOOM_DIRECTORY_PERMISSIONS} PATTERN "*.qrc" EXCLUDE)
endif()
file(GLOB STAYLOOM_POLKIT_ACTIONS CONFIGURE_DEPENDS ${STAYLOOM_DATA_DIR}/polkit/*.policy)
if(STAYLOOM_POLKIT_ACTIONS)
  install(FILES ${STAYLOOM_POLKIT_ACTIONS} DESTINATION ${CMAKE_INSTALL_DATADIR}/polkit-1/actions)
endif()

# Manual pages and the Debian changelog are installed compressed, without a time stamp in the
# gzip header so that two builds of the same sources give the same package.
find_program(STAYLOOM_GZIP gzip REQUIRED)
set(STAYLOOM_COMPRESSED_FILES)
function(stayloom_gzip source output)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${STAYLOOM_PACKAGING_BINARY_DIR}
    COMMAND sh -c "\"$1\" -9n -c \"$2\" > \"$3\"" sh ${STAYLOOM_GZIP} ${source} ${output}
    DEPENDS ${source} VERBATIM)
  set(STAYLOOM_COMPRESSED_FILES ${STAYLOOM_COMPRESSED_FILES} ${output} PARENT_SCOPE)
endfunction()

stayloom_gzip(${STAYLOOM_DATA_DIR}/debian/changelog
              ${STAYLOOM_PACKAGING_BINARY_DIR}/changelog.Debian.gz)
install(FILES ${STAYLOOM_PACKAGING_BINARY_DIR}/changelog.Debian.gz
              ${STAYLOOM_DATA_DIR}/debian/copyright
        DESTINATION ${STAYLOOM_DOC_DIR})
install(FILES ${STAYLOOM_DATA_DIR}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME stayloom)

if(EXISTS ${STAYLOOM_DATA_DIR}/stayloom.1)
  stayloom_gzip(${STAYLOOM_DATA_DIR}/stayloom.1 ${STAYLOOM_PACKAGING_BINARY_DIR}/stayloom.1.gz)
  install(FILES ${STAYLOOM_PACKAGING_BINARY_DIR}/stayloom.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
add_custom_target(stayloom_packaging_data ALL DEPENDS ${STAYLOOM_COMPRESSED_FILES})

# The package's own version counts from the changelog's top entry; the two must agree.
set(STAYLOOM_DEBIAN_RELEASE 1)
file(STRINGS ${STAYLOOM_DATA_DIR}/debian/changelog STAYLOOM_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT STAYLOOM_CHANGELOG_TOP MATCHES "^stayloom \\(${PROJECT_VERSION}-${STAYLOOM_DEBIAN_RELEASE}\\) ")
  message(FATAL_ERROR "data/debian/changelog does not start with the entry for "
                      "${PROJECT_VERSION}-${STAYLOOM_DEBIAN_RELEASE}: ${STAYLOOM_CHANGELOG_TOP}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME stayloom)
set(CPACK_PACKAGE_VENDOR "Stayloom developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${STAYLOOM_DIRECTORY_PERMISSIONS})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keeps the computer awake while AI coding agents work")
set(CPACK_PACKAGE_DESCRIPTION
    "Stayloom keeps the computer awake while AI coding agents work, and lets
it sleep again when they finish. It looks at the process table, the
agents' own status records, their session files and the text in terminal
windows, and holds the machine awake through a logind inhibitor until an
idle grace runs out.

It runs as a tray utility with modes, per-power-source profiles, battery
and temperature safety, optional lid-closed protection (through a polkit
prompt) and local usage statistics. Without a desktop it runs headless,
and the stayloom command asks a running instance for its status or
changes its mode.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${STAYLOOM_DEBIAN_RELEASE})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${STAYLOOM_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The placeholder the metainfo also names, until the project has a site of its own.
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://stayloom.example/")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The program's library and its desktop module carry no RUNPATH (the program's finds them all), so
# dpkg-shlibdeps is told where their private dependencies are, relative to the package's root.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS .${CMAKE_INSTALL_FULL_LIBDIR}/stayloom)
# Programs started at run time, which dpkg-shlibdeps cannot see: pkexec for the sleep switch,
# procps for the orphan check, the user bus and the accessibility bus.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "pkexec, procps, dbus-user-session, at-spi2-core")
# The fallback buttons open folders and settings with xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
