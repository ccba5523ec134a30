# The Windows package, made by `cmake --build BUILD --target package` in the
# 32-bit Windows build: Gleanor-<version>-win32.zip with Gleanor.exe, the
# pass-through WNASPI32.DLL beside it, and README.txt. The simulated drive's
# DLL stays out.
if(NOT WIN32 OR NOT TARGET Gleanor OR NOT TARGET gleanor_sptidll)
  return()
endif()

# The version the About dialog shows, unless the project states one.
set(gleanor_package_version "${PROJECT_VERSION}")
if(NOT gleanor_package_version)
  file(STRINGS ${CMAKE_SOURCE_DIR}/src/win32/gleanor.rc about_line REGEX "Gleanor Version [0-9.]+")
  string(REGEX MATCH "[0-9][0-9.]*" gleanor_package_version "${about_line}")
endif()

install(TARGETS Gleanor gleanor_sptidll RUNTIME DESTINATION . COMPONENT windows)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/windows/README.txt DESTINATION . COMPONENT windows)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Gleanor)
set(CPACK_PACKAGE_VENDOR Gleanor)
set(CPACK_PACKAGE_VERSION ${gleanor_package_version})
set(CPACK_PACKAGE_FILE_NAME Gleanor-${gleanor_package_version}-win32)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_COMPONENTS_ALL windows)
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR})
include(CPack)
