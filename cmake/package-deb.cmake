# The Linux package: `cmake --build BUILD --target package` makes
# gleanor_VERSION_ARCH.deb with the program, its man page, bash completion and
# the bundled examples under /usr/share/doc/gleanor.
if(WIN32 OR NOT TARGET gleanor)
  return()
endif()

set(pkg ${CMAKE_SOURCE_DIR}/packaging)
set(man_gz ${CMAKE_BINARY_DIR}/packaging/gleanor.1.gz)
# The page and the completion are made from the option table (src/cli).
set(docs ${CMAKE_BINARY_DIR}/packaging)
add_custom_command(OUTPUT ${man_gz}
  COMMAND gzip -9n -c ${docs}/gleanor.1 > ${man_gz}
  DEPENDS ${docs}/gleanor.1 gleanor_docs VERBATIM)
add_custom_target(gleanor_man ALL DEPENDS ${man_gz})

install(TARGETS gleanor RUNTIME DESTINATION bin)
install(FILES ${man_gz} DESTINATION share/man/man1)
install(FILES ${docs}/gleanor.bash-completion DESTINATION share/bash-completion/completions RENAME gleanor)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ DESTINATION share/doc/gleanor/examples)
install(FILES ${pkg}/copyright DESTINATION share/doc/gleanor)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gleanor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "rescue data from damaged CDs and DVDs, sector by sector")
set(CPACK_PACKAGE_DESCRIPTION "Gleanor reads a damaged data CD or DVD with raw SCSI commands, keeps every
sector that reads in an image file and a flag file of what is still missing,
gives the drive care between read errors, and resumes, changes drive or
continues on a second machine. It reads and writes GNU ddrescue mapfiles.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Gleanor developers <gleanor@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
include(CPack)
