# Installing the station, and `cpack -G DEB` for a Debian package: the
# programs in the application directory /opt/quillfern (where velk.mdb and
# the COMn links live), the desktop entry and the icon under /usr/share, the
# copyright and the Debian changelog under /usr/share/doc/quillfern. The
# programs are stripped (the build tree keeps them whole for debugging).
# Included after every folder.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install root" FORCE)
endif()
set(QF_APP_DIR opt/quillfern)
set(QF_DOC_DIR usr/share/doc/quillfern)

# qf_programs(DIR OUT): the product's programs, the executable targets named
# quillfern or quillfern-* defined in DIR and below it, outside bench/ and
# tests/. A new program is packaged by its name alone.
function(qf_programs dir out)
  set(found "")
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE" AND target MATCHES "^quillfern(-.+)?$")
      list(APPEND found ${target})
    endif()
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  list(REMOVE_ITEM subdirs ${CMAKE_SOURCE_DIR}/bench ${CMAKE_SOURCE_DIR}/tests)
  foreach(subdir IN LISTS subdirs)
    qf_programs(${subdir} below)
    list(APPEND found ${below})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

qf_programs(${CMAKE_SOURCE_DIR} QF_PROGRAMS)
install(TARGETS ${QF_PROGRAMS} RUNTIME DESTINATION ${QF_APP_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillfern.desktop DESTINATION usr/share/applications)
install(FILES ${CMAKE_BINARY_DIR}/quillfern.png DESTINATION usr/share/icons/hicolor/32x32/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/copyright DESTINATION ${QF_DOC_DIR})

set(CPACK_PACKAGE_NAME quillfern)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(QF_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(QF_MAINTAINER "Quillfern maintainers <quillfern-maintainers@users.noreply.github.com>")

# The Debian changelog, compressed as Debian policy asks (gzip -9n: no name,
# no time stamp, so that the same tree makes the same package).
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.Debian.in ${CMAKE_BINARY_DIR}/changelog.Debian @ONLY)
execute_process(COMMAND gzip -9nc ${CMAKE_BINARY_DIR}/changelog.Debian
                OUTPUT_FILE ${CMAKE_BINARY_DIR}/changelog.Debian.gz COMMAND_ERROR_IS_FATAL ANY)
install(FILES ${CMAKE_BINARY_DIR}/changelog.Debian.gz DESTINATION ${QF_DOC_DIR})
# The package goes to the plant, not into Debian: its first version closes no
# bug (an upload to Debian would close the bug that asked for the package).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME quillfern)

set(CPACK_PACKAGE_VENDOR "Quillfern maintainers")
set(CPACK_PACKAGE_CONTACT "${QF_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QF_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator station for a four-sensor serial acquisition device")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillfern watches an acquisition device with four sensors over a serial
line: it polls the device, shows each sensor's latest value, stores every
reading as a numbered, time-stamped record in a local SQLite store, lists
the records and switches the device's relay.
Beside the station window come a store tool (create, check, repair, back
up and export the store), a simulated device for trying it without
hardware, a trend viewer and an uplink that forwards the records to a
PostgreSQL database.
Everything lives in the application directory /opt/quillfern, which also
holds the store and the links to the serial ports.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-liberation, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
include(CPack)
