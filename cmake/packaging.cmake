# Packages, made with cpack in a Release build folder:
#   Linux:   tovrel_<version>-1_<arch>.deb     the programs, manual pages, README
#            tovrel-dev_<version>-1_<arch>.deb headers, static libraries, the CMake
#                                              package and tovrel.pc
#   Windows: tovrel-<version>-win64.zip        the three programs, README, LICENSE
#                                              and the manual pages as HTML
# The components are those of cmake/install.cmake; the Debian packages carry
# the licence in their copyright files, not as LICENSE.

set(CPACK_PACKAGE_NAME tovrel)
set(CPACK_PACKAGE_VENDOR "The tovrel authors")
set(CPACK_PACKAGE_CONTACT
    "tovrel maintainers <maintainers@users.noreply.c-seed-8e60b955.example>")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
# Packages are made from the install rules only, never from the source tree.
set(CPACK_SOURCE_GENERATOR "")

if(WIN32)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
      "converter from interferometer binary data files to SDF surface files")
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  # One archive with the user's components; no headers or libraries.
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_COMPONENTS_ALL Runtime License)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
  set(CPACK_COMPONENTS_ALL Runtime DebianRuntime Development DebianDevelopment)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
  set(CPACK_DEBIAN_PACKAGE_SOURCE tovrel)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  # Each package's description: its summary line, then the long text. (The
  # project-wide CPACK_PACKAGE_DESCRIPTION_SUMMARY stays unset, since CPack
  # would put it in front of both.)

  # tovrel: the programs; libc and libstdc++ as dpkg-shlibdeps finds them.
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME tovrel)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION
"converter from interferometer binary data files to SDF surface files
tovrel converts a surface measurement stored in an interferometer's binary
data file into an SDF surface data file (ASCII form) that other
surface-analysis software reads. The conversion is exact, and bad input is
refused with a named error. tovrel-info lists what a data file or an SDF file
holds, so that a conversion can be checked with diff; tovrel-gen writes
synthetic measurements for trying the tools out.")

  # tovrel-dev: static libraries and headers, built by g++ 12 for C++20; the
# x3p module links zlib and libgcrypt.
  set(CPACK_DEBIAN_DEV_PACKAGE_NAME tovrel-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libstdc++-12-dev, zlib1g-dev, libgcrypt20-dev")
  set(CPACK_DEBIAN_DEV_DESCRIPTION
"tovrel library: data files, SDF files and the CAN bus layer
The static libraries and headers of tovrel: the interferometer's binary data
file reader and writer, the SDF writer and import, the error catalogue and
the instrument's CAN bus layer with its simulated bridge. find_package(tovrel)
gives the CMake targets tovrel::<module> and tovrel::tovrel; pkg-config
knows them as tovrel. The headers need C++20.")

  # Each package's copyright and changelog, installed only into the packages.
  set(TOVREL_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
  set(debian_dir ${PROJECT_BINARY_DIR}/debian)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in ${debian_dir}/changelog
    @ONLY)
  find_program(TOVREL_GZIP gzip)
  if(TOVREL_GZIP)
    add_custom_command(OUTPUT ${debian_dir}/changelog.Debian.gz
      COMMAND ${TOVREL_GZIP} -9 -n -c ${debian_dir}/changelog > ${debian_dir}/changelog.Debian.gz
      DEPENDS ${debian_dir}/changelog VERBATIM)
    add_custom_target(debian-changelog ALL DEPENDS ${debian_dir}/changelog.Debian.gz)
    set(components DebianRuntime DebianDevelopment)
    set(packages tovrel tovrel-dev)
    foreach(component package IN ZIP_LISTS components packages)
      install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
                    ${debian_dir}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
      # lintian's overrides, each with the reason in a comment.
      install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/${package}.lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME ${package}
        COMPONENT ${component} EXCLUDE_FROM_ALL)
    endforeach()
  endif()
endif()

include(CPack)

if(NOT WIN32)
  cpack_add_component_group(programs)
  cpack_add_component_group(dev)
  cpack_add_component(Runtime GROUP programs)
  cpack_add_component(DebianRuntime GROUP programs)
  cpack_add_component(Development GROUP dev)
  cpack_add_component(DebianDevelopment GROUP dev)
endif()
