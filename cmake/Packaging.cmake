# What an installation holds besides the libraries, headers and tools:
#   - the CMake package: find_package(audiomeasure 0.3 CONFIG) gives the
#     imported targets audiomeasure::lumetra, audiomeasure::quenbar and
#     audiomeasure::audiomeasure, with their include directory; same-major
#     versions are compatible;
#   - lumetra.pc, quenbar.pc and audiomeasure.pc for pkg-config;
#   - the licence (and, on Windows, the hosts' README and C examples);
# and CPack's settings for the Debian package that scripts/package makes.
#
# Every installed path is relative to the installation's own place, found at
# use: the CMake files from their own folder, the pkg-config files from
# ${pcfiledir}. So an installation may move to any prefix, and the MinGW
# install tree can be unpacked anywhere.

include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(AM_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/audiomeasure)
install(EXPORT audiomeasureTargets NAMESPACE audiomeasure:: DESTINATION ${AM_CMAKE_DIR}
        COMPONENT development)
configure_package_config_file(cmake/audiomeasureConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/audiomeasureConfig.cmake INSTALL_DESTINATION ${AM_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/audiomeasureConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/audiomeasureConfig.cmake
              ${PROJECT_BINARY_DIR}/package/audiomeasureConfigVersion.cmake
        DESTINATION ${AM_CMAKE_DIR} COMPONENT development)

# pkg-config: the prefix is the pkgconfig folder's way up to the prefix
# (lib/pkgconfig: ../..; lib/x86_64-linux-gnu/pkgconfig: ../../..).
file(RELATIVE_PATH AM_PC_UP /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" AM_PC_UP "${AM_PC_UP}")
file(RELATIVE_PATH AM_PC_INCLUDEDIR /prefix /prefix/${CMAKE_INSTALL_INCLUDEDIR})
set(AM_PC_lumetra_DESCRIPTION "gain of a stepped test signal: levels of 11 steps, alignment")
set(AM_PC_quenbar_DESCRIPTION "signal-to-noise ratio of a signal gated by 5 ms frame levels")
set(AM_PC_audiomeasure_DESCRIPTION
    "gain and SNR measurements with every diagnostic and a verdict, reentrant and streaming")
foreach(lib IN ITEMS lumetra quenbar audiomeasure)
  set(AM_PC_NAME ${lib})
  set(AM_PC_DESCRIPTION "${AM_PC_${lib}_DESCRIPTION}")
  configure_file(cmake/pkgconfig.pc.in ${PROJECT_BINARY_DIR}/package/${lib}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/${lib}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endforeach()

if(WIN32)
  # The zip's top folder: what a Windows user opens first.
  install(FILES LICENSE DESTINATION . COMPONENT runtime)
  configure_file(docs/windows/README.txt.in ${PROJECT_BINARY_DIR}/package/README.txt @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/package/README.txt docs/windows/example.c
                docs/windows/example_gain.c DESTINATION . COMPONENT development)
else()
  install(FILES LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT runtime)
endif()

if(WIN32)
  return()
endif()
# The Debian package (scripts/package builds the Windows zip from an install
# tree, with only the libraries built).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME audiomeasure)
set(CPACK_PACKAGE_VENDOR "The audiomeasure authors")
set(CPACK_PACKAGE_CONTACT "The audiomeasure authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "audio measurement libraries lumetra, quenbar and audiomeasure, with tools")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "lumetra measures the gain of a device under a stepped test signal; quenbar\n"
  "estimates a signal-to-noise ratio; audiomeasure makes both measurements\n"
  "with every diagnostic and a verdict. Shared libraries with a C interface,\n"
  "their headers, CMake and pkg-config files, and the command-line tools\n"
  "lumetra-measure and quenbar-snr, which measure through audiomeasure.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# Dependencies from what the binaries link (libc, libsndfile for the tools;
# the tools' libaudiomeasure is the package's own),
# and a shlibs file so that programs built against the libraries depend on
# this package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
