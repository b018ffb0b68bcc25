# Installing the Linux build and packing it as a Debian package (make package).
include(GNUInstallDirs)

install(TARGETS OrvexMigrate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET OrvexInspect)
  install(TARGETS OrvexInspect RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
# Beside OrvexMigrate, which it runs.
install(TARGETS OrvexRollout RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# Debian keeps a package's documents under its own name.
set(docs ${CMAKE_INSTALL_DATAROOTDIR}/doc/orvexmigrate)
install(FILES README.md DESTINATION ${docs})
install(FILES examples/migration.xml examples/make_profile.py DESTINATION ${docs}/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvexmigrate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "OrvexMigrate")
set(CPACK_PACKAGE_CONTACT "OrvexMigrate developers <orvexmigrate@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "migrates application settings inside user-profile archives")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The runtime packages of the libraries the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
