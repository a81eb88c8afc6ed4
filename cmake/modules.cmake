# Helpers for the project's own targets.
#
# Warnings: every target we compile gets -Wall -Wextra -Werror as a PRIVATE
# option, so nothing that links one of our libraries inherits them.
#
# Headers: a module's headers are included as "<module>/<name>.h". The
# include directory that makes this work is a folder in the build tree
# holding one link, <module> -> the module's source folder, and it is
# published only by the module's own target. A file can therefore include
# the headers of exactly the modules its target links (directly or through
# PUBLIC dependencies): an include against the layering does not compile.

function(tovrel_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
    # GCC 12 reports false -Wrestrict overlaps inside std::string concatenation.
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
endfunction()

# Publishes the headers of the current source folder as "<prefix>/<name>.h"
# to everything that links `target`.
function(tovrel_expose_headers target prefix)
  set(root ${PROJECT_BINARY_DIR}/include/${prefix})
  get_filename_component(link ${root}/${prefix} ABSOLUTE)
  get_filename_component(parent ${link} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  file(CREATE_LINK ${CMAKE_CURRENT_SOURCE_DIR} ${link} SYMBOLIC)
  target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${root}>)
endfunction()

# tovrel_module(<name> <sources>...): the static library tovrel_<name>, also
# known as tovrel::<name>, built from the current folder.
function(tovrel_module name)
  add_library(tovrel_${name} STATIC ${ARGN})
  add_library(tovrel::${name} ALIAS tovrel_${name})
  tovrel_expose_headers(tovrel_${name} ${name})
  tovrel_warnings(tovrel_${name})
endfunction()
