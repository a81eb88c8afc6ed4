# Missing dependencies stop configure with a message that says what to do:
# the Debian package that provides what is missing, and the command that sets
# up this machine (it installs the packages of that package's group of
# packaging/apt-packages.txt that are missing).
#
# tovrel_require(<found> <what> <package>): stops configure unless the
# variable <found> is true. <what> names the missing piece as the user would
# look for it; <package> is the Debian package that provides it, listed in
# packaging/apt-packages.txt.

function(tovrel_require found what package)
  if(${found})
    return()
  endif()
  # The group of the package, and the command that installs that group.
  file(STRINGS ${PROJECT_SOURCE_DIR}/packaging/apt-packages.txt lines REGEX "^[a-z]")
  set(group "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(REGEX MATCHALL "[^ \t]+" words "${line}")
    list(POP_FRONT words name)
    if(package IN_LIST words)
      set(group ${name})
      break()
    endif()
  endforeach()
  if(group STREQUAL "build")
    set(setup "make sample")
  elseif(group STREQUAL "test" OR group STREQUAL "interop")
    set(setup "make test")
  else()
    set(setup "packaging/install-packages.sh ${group}")
  endif()
  message(FATAL_ERROR
    "${what} was not found: it comes with the Debian package ${package}.\n"
    "Set up this machine by running, in ${PROJECT_SOURCE_DIR},\n"
    "  ${setup}\n"
    "which installs, with apt-get as root or through sudo, the packages of the "
    "group \"${group}\" of packaging/apt-packages.txt that are missing; or "
    "install the package yourself:\n"
    "  sudo apt-get install ${package}\n"
    "then run CMake again.")
endfunction()

# tovrel_header_library(<target> <folder> <header> <package>): the header-only
# library /usr/include/<folder> (for example nlohmann/json.hpp), for <target>
# only. Such a library serves the Windows build as well; its folder is linked
# into the build tree (include/<folder>/<folder>), so that a cross build sees
# that one library and not the host's other headers. The include directory is
# also left in TOVREL_<FOLDER>_INCLUDE_DIR, for tests that read the same
# headers.
function(tovrel_header_library target folder header package)
  string(TOUPPER ${folder} upper)
  find_path(TOVREL_${upper}_ROOT ${folder}/${header} PATHS /usr/include NO_DEFAULT_PATH
            NO_CMAKE_FIND_ROOT_PATH)
  tovrel_require(TOVREL_${upper}_ROOT "${folder} (/usr/include/${folder}/${header})" ${package})
  set(dir ${PROJECT_BINARY_DIR}/include/${folder})
  file(MAKE_DIRECTORY ${dir})
  file(CREATE_LINK ${TOVREL_${upper}_ROOT}/${folder} ${dir}/${folder} SYMBOLIC)
  target_include_directories(${target} SYSTEM PRIVATE ${dir})
  set(TOVREL_${upper}_INCLUDE_DIR ${dir} CACHE INTERNAL "")
endfunction()
