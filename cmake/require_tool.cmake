# require_tool(<variable> <package> <purpose> NAMES <name>... [PATHS <dir>...])
# Finds a program that the build or its registered tests call, and stops the configure step with
# the Debian package to install when it is missing: a missing tool must not turn into tests that
# fail late or wait out their timeouts.
function(require_tool variable package purpose)
  cmake_parse_arguments(ARG "" "" "NAMES;PATHS" ${ARGN})
  find_program(${variable} NAMES ${ARG_NAMES} PATHS ${ARG_PATHS})
  if(NOT ${variable})
    list(JOIN ARG_NAMES " or " names)
    message(FATAL_ERROR "${names} not found, needed for ${purpose}: install the Debian package "
                        "'${package}' (scripts/setup installs every package the build and tests need)")
  endif()
endfunction()
