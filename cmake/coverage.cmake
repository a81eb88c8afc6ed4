# Coverage of the library (TOVREL_COVERAGE=ON, the `coverage` preset, which
# compiles with --coverage). Run the tests, then build `coverage-report`: it
# prints line and branch coverage of every library file and the totals, for
# the whole library and for the file-format modules (platform/, datafile/,
# sdf/, errors/). Needs gcovr.
find_program(TOVREL_GCOVR gcovr)
tovrel_require(TOVREL_GCOVR "gcovr" gcovr)

set(_src ${PROJECT_SOURCE_DIR})
set(_json ${CMAKE_BINARY_DIR}/coverage.json)
# Branches the compiler adds for exceptions and for code it proves dead are
# not decisions of ours; leave them out of the branch figures.
add_custom_target(coverage-report
  COMMAND ${TOVREL_GCOVR} -r ${_src} --object-directory ${CMAKE_BINARY_DIR} -j 2
          --filter "${_src}/(platform|datafile|surface|sdf|errors|log|cli|can)/"
          --exclude-unreachable-branches --exclude-throw-branches
          --json ${_json}
  COMMAND ${CMAKE_COMMAND} -E echo "== line coverage of the library"
  COMMAND ${TOVREL_GCOVR} -r ${_src} -a ${_json} --txt --sort-percentage
  COMMAND ${CMAKE_COMMAND} -E echo "== branch coverage of the library"
  COMMAND ${TOVREL_GCOVR} -r ${_src} -a ${_json} --txt --branches --sort-percentage
  COMMAND ${CMAKE_COMMAND} -E echo "== library totals"
  COMMAND ${TOVREL_GCOVR} -r ${_src} -a ${_json} --print-summary --txt ${CMAKE_BINARY_DIR}/coverage-library.txt
  COMMAND ${CMAKE_COMMAND} -E echo "== file formats (platform/, datafile/, sdf/, errors/) totals"
  COMMAND ${TOVREL_GCOVR} -r ${_src} -a ${_json} --filter "${_src}/(platform|datafile|sdf|errors)/"
          --print-summary --txt ${CMAKE_BINARY_DIR}/coverage-datafile-errors.txt
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  VERBATIM)
