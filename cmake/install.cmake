# Install rules: where the programs, headers, libraries and documents go, and
# the CMake package (tovrel::<module> and the umbrella tovrel::tovrel) that
# find_package(tovrel) gives from the install tree and from the build tree.
#
# Components: Runtime (the programs, man pages, README), License (LICENSE),
# Development (headers, libraries, CMake package, tovrel.pc). The Debian
# package ships the licence in its copyright file instead of LICENSE (see
# cmake/packaging.cmake).

# Debian keeps libraries, their CMake packages and .pc files in the multiarch
# folder under any prefix (/usr/local/lib/<triplet> is on the linker's and
# pkg-config's paths too); GNUInstallDirs chooses it only for /usr.
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND NOT CMAKE_CROSSCOMPILING AND CMAKE_LIBRARY_ARCHITECTURE
   AND EXISTS /etc/debian_version)
  set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
      "Object code libraries (lib/${CMAKE_LIBRARY_ARCHITECTURE} on Debian)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Folders made by the install rules are rwxr-xr-x whatever the umask, as
# packages want them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# On Windows the programs and documents sit at the top of the folder, the
# way a .zip is unpacked and used; elsewhere the GNU directories.
if(WIN32)
  set(TOVREL_INSTALL_BINDIR .)
  set(TOVREL_INSTALL_DOCDIR .)
else()
  set(TOVREL_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
  set(TOVREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DOCDIR})
endif()
set(TOVREL_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/tovrel)
# Headers keep their build-tree spelling, "<module>/<name>.h", below this.
set(TOVREL_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/tovrel)

# tovrel_install_module(<name> <header>...): installs the module library
# tovrel_<name> as tovrel::<name> and the headers a caller needs, as
# include/tovrel/<name>/<header> (a header may lie in a subfolder, such as
# sim/sim_bridge.h). An installed header must include installed headers only.
function(tovrel_install_module name)
  set(target tovrel_${name})
  set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  if(NOT WIN32)
    # So that a caller may link the static libraries into a shared library.
    set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
  # The headers need C++20 (<bit>, designated initializers): say so to
  # whoever links the library, so a consumer need not.
  target_compile_features(${target} PUBLIC cxx_std_20)
  target_include_directories(${target} PUBLIC $<INSTALL_INTERFACE:${TOVREL_INSTALL_INCLUDEDIR}>)
  install(TARGETS ${target} EXPORT tovrelTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
  foreach(header IN LISTS ARGN)
    get_filename_component(subfolder ${header} DIRECTORY)
    install(FILES ${header}
      DESTINATION ${TOVREL_INSTALL_INCLUDEDIR}/${name}/${subfolder}
      COMPONENT Development)
  endforeach()
  set_property(GLOBAL APPEND PROPERTY TOVREL_INSTALLED_MODULES ${name})
endfunction()

# tovrel_install_programs(<target>...): the programs, to bin/.
function(tovrel_install_programs)
  install(TARGETS ${ARGN} RUNTIME DESTINATION ${TOVREL_INSTALL_BINDIR} COMPONENT Runtime)
endfunction()

# After every module has been added: the umbrella target, the exports, the
# package configuration and version files, tovrel.pc and the documents.
function(tovrel_install_package)
  get_property(modules GLOBAL PROPERTY TOVREL_INSTALLED_MODULES)
  set(module_targets "")
  set(pc_libs "")
  foreach(module IN LISTS modules)
    list(APPEND module_targets tovrel::${module})
  endforeach()
  # Static linking wants a library before the ones it uses: the modules
  # were added from the bottom layer up, so list them the other way round.
  set(reversed ${modules})
  list(REVERSE reversed)
  foreach(module IN LISTS reversed)
    string(APPEND pc_libs " -ltovrel_${module}")
  endforeach()
  # The system libraries the modules link (x3p: libgcrypt and zlib).
  get_property(system_libs GLOBAL PROPERTY TOVREL_SYSTEM_LIBS)
  foreach(lib IN LISTS system_libs)
    string(APPEND pc_libs " -l${lib}")
  endforeach()

  # tovrel::tovrel: every module at once.
  add_library(tovrel_all INTERFACE)
  add_library(tovrel::tovrel ALIAS tovrel_all)
  target_link_libraries(tovrel_all INTERFACE ${module_targets})
  set_target_properties(tovrel_all PROPERTIES EXPORT_NAME tovrel)
  install(TARGETS tovrel_all EXPORT tovrelTargets COMPONENT Development)

  set(config_in ${PROJECT_SOURCE_DIR}/cmake/tovrelConfig.cmake.in)
  set(version_file ${PROJECT_BINARY_DIR}/tovrelConfigVersion.cmake)
  # Before 1.0 a minor version may change the interface: 0.2 takes 0.2.x.
  write_basic_package_version_file(${version_file} COMPATIBILITY SameMinorVersion)

  # Install tree.
  configure_package_config_file(${config_in} ${PROJECT_BINARY_DIR}/install/tovrelConfig.cmake
    INSTALL_DESTINATION ${TOVREL_INSTALL_CMAKEDIR})
  install(EXPORT tovrelTargets NAMESPACE tovrel:: DESTINATION ${TOVREL_INSTALL_CMAKEDIR}
    COMPONENT Development)
  install(FILES ${PROJECT_BINARY_DIR}/install/tovrelConfig.cmake ${version_file}
    DESTINATION ${TOVREL_INSTALL_CMAKEDIR} COMPONENT Development)

  # Build tree: find_package(tovrel) with tovrel_DIR (or CMAKE_PREFIX_PATH)
  # naming the build folder; the headers come from the source folders.
  configure_package_config_file(${config_in} ${PROJECT_BINARY_DIR}/tovrelConfig.cmake
    INSTALL_DESTINATION ${PROJECT_BINARY_DIR} INSTALL_PREFIX ${PROJECT_BINARY_DIR})
  export(EXPORT tovrelTargets NAMESPACE tovrel:: FILE ${PROJECT_BINARY_DIR}/tovrelTargets.cmake)

  # pkg-config: written at install time, when the prefix is known (cmake
  # --install --prefix, or the packager's).
  install(CODE "
    set(TOVREL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(TOVREL_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(TOVREL_PC_INCLUDEDIR \"${TOVREL_INSTALL_INCLUDEDIR}\")
    set(TOVREL_PC_LIBS \"${pc_libs}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/cmake/tovrel.pc.in\"
                   \"${PROJECT_BINARY_DIR}/install/tovrel.pc\" @ONLY)
    " COMPONENT Development)
  install(FILES ${PROJECT_BINARY_DIR}/install/tovrel.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)

  # Documents.
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${TOVREL_INSTALL_DOCDIR}
    COMPONENT Runtime)
  if(WIN32)
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${TOVREL_INSTALL_DOCDIR}
      RENAME LICENSE.txt COMPONENT License)
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${TOVREL_INSTALL_DOCDIR}
      COMPONENT License)
  endif()
endfunction()
