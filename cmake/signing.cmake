# Code signing. SIGN_COMMAND is a command that signs the file named by its last argument in
# place, such as scripts/sign with its certificate and key; empty, nothing is signed. Every
# binary is signed before it is embedded or laid out: mlxevent.dll before install.exe takes it
# in, install.exe, the payload modules and mbltray.exe; the setup program signs itself and its
# uninstaller through makensis (!finalize, !uninstfinalize).
set(SIGN_COMMAND "" CACHE STRING "Command that signs the file given as its last argument (empty: unsigned)")
separate_arguments(MARBLELEAF_SIGN UNIX_COMMAND "${SIGN_COMMAND}")

# The commands of add_custom_command that sign <file>: nothing when unset.
function(marbleleaf_sign_commands outvar file)
  if(MARBLELEAF_SIGN)
    set(${outvar} COMMAND ${MARBLELEAF_SIGN} ${file} PARENT_SCOPE)
  else()
    set(${outvar} "" PARENT_SCOPE)
  endif()
endfunction()

# Signs a target's output after every link.
function(marbleleaf_sign_target target)
  if(MARBLELEAF_SIGN)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND ${MARBLELEAF_SIGN} $<TARGET_FILE:${target}>
                       COMMENT "Signing $<TARGET_FILE_NAME:${target}>" VERBATIM)
  endif()
endfunction()
