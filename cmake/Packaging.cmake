# Installing the station, and `cpack -G DEB` for a Debian package: the
# programs in the application directory /opt/quillfern (where velk.mdb and
# the COMn links live), the desktop entry and the icon under /usr/share.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX "/" CACHE PATH "Install root" FORCE)
endif()
set(QF_APP_DIR opt/quillfern)

set(QF_PROGRAMS quillfern quillfern-store quillfern-devsim quillfern-trend quillfern-uplink quillfern-gateway)
foreach(program IN LISTS QF_PROGRAMS)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${QF_APP_DIR})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/quillfern.desktop DESTINATION usr/share/applications)
install(FILES ${CMAKE_BINARY_DIR}/quillfern.png DESTINATION usr/share/icons/hicolor/32x32/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION usr/share/doc/quillfern)

set(CPACK_PACKAGE_NAME quillfern)
set(CPACK_PACKAGE_VENDOR "Quillfern developers")
set(CPACK_PACKAGE_CONTACT "Quillfern developers <quillfern@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Operator station for a four-sensor serial acquisition device")
set(CPACK_PACKAGING_INSTALL_PREFIX "/")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no library dependency names them.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, fonts-liberation, fonts-dejavu-core")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-qpa-plugins")
include(CPack)
