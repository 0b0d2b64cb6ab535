# What `cmake --install` puts where (GNU layout under the prefix; the programs
# find their data from their own place, so any prefix works), and the Debian
# package CPack makes of it (`cpack -G DEB` in the build folder).
install(TARGETS ondrel-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET ondrel)
  install(TARGETS ondrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(FILES ${CMAKE_BINARY_DIR}/src/cli/FileSetting.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/ondrel)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/ondrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/org.ondrel.Ondrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${ONDREL_ICON_SVG} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(png ${ONDREL_ICON_PNGS})
  get_filename_component(sizeDir ${png} DIRECTORY)
  get_filename_component(size ${sizeDir} NAME)
  install(FILES ${png} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}/apps)
endforeach()

# Debian wants its copyright file and a compressed changelog in the package's doc folder.
set(ONDREL_CHANGELOG_GZ ${CMAKE_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(OUTPUT ${ONDREL_CHANGELOG_GZ}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/packaging
  COMMAND sh -c "gzip -9nc '${CMAKE_SOURCE_DIR}/packaging/changelog' > '${ONDREL_CHANGELOG_GZ}'"
  DEPENDS ${CMAKE_SOURCE_DIR}/packaging/changelog
  VERBATIM)
add_custom_target(changelog ALL DEPENDS ${ONDREL_CHANGELOG_GZ})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${ONDREL_CHANGELOG_GZ} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/ondrel)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ondrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ondrel developers")
set(CPACK_PACKAGE_CONTACT "Ondrel developers <support@ondrel.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data recovery from virtual hard-disk images")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://ondrel.org/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# The first line of the package's description is the summary above.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Ondrel finds the volumes of a disk image (VHD, VHDX, VDI, VMDK, qcow2, raw
images and devices; MBR, GPT, LVM2, or a sweep for boot records no table
lists), rebuilds the folder tree of NTFS, FAT, exFAT, ext2/3/4, HFS+ and XFS
volumes with deleted and orphaned entries, searches names by regular
expression, saves files with their time stamps, carves files by their
signatures, and exports the whole virtual disk as a plain image. Images are
only ever opened read-only.
.
The package holds the Qt wizard (ondrel) and the command-line tool
(ondrel-cli). License: GPL-3.0-or-later.")
include(CPack)
