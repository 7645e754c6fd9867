# The real program: install.exe, a GUI program, statically linked.
# The target is install_exe (CMake reserves "install"); the file is install.exe.
enable_language(RC)
# The event messages: a message table in install.exe itself and in a resource-only DLL,
# mlxevent.dll, that install.exe carries as RCDATA 2 and writes into the system folder.
find_program(WINDMC NAMES ${TOOLCHAIN_PREFIX}-windmc windmc REQUIRED)
set(EVENT_MESSAGES_DIR ${CMAKE_BINARY_DIR}/res)
# Signed before install.exe takes it in: it is written into System32 from there.
marbleleaf_sign_commands(sign_event_dll ${EVENT_MESSAGES_DIR}/mlxevent.dll)
add_custom_command(OUTPUT ${EVENT_MESSAGES_DIR}/event_messages_0409.bin ${EVENT_MESSAGES_DIR}/event_messages.rc
                   COMMAND ${CMAKE_COMMAND} -E make_directory ${EVENT_MESSAGES_DIR}
                   COMMAND ${WINDMC} -h ${EVENT_MESSAGES_DIR} -r ${EVENT_MESSAGES_DIR} ${CMAKE_SOURCE_DIR}/src/res/event_messages.mc
                   DEPENDS ${CMAKE_SOURCE_DIR}/src/res/event_messages.mc VERBATIM)
add_custom_command(OUTPUT ${EVENT_MESSAGES_DIR}/mlxevent.dll
                   COMMAND ${CMAKE_RC_COMPILER} -I ${EVENT_MESSAGES_DIR} -O coff -o ${EVENT_MESSAGES_DIR}/mlxevent.res.o
                           ${EVENT_MESSAGES_DIR}/event_messages.rc
                   COMMAND ${CMAKE_C_COMPILER} -shared -nostdlib -s -Wl,-e,0 -o ${EVENT_MESSAGES_DIR}/mlxevent.dll
                           ${EVENT_MESSAGES_DIR}/mlxevent.res.o
                   ${sign_event_dll}
                   DEPENDS ${EVENT_MESSAGES_DIR}/event_messages_0409.bin ${EVENT_MESSAGES_DIR}/event_messages.rc VERBATIM)
add_custom_target(event_messages DEPENDS ${EVENT_MESSAGES_DIR}/event_messages_0409.bin ${EVENT_MESSAGES_DIR}/mlxevent.dll)
# The product's objects, built once; an installer adds its build number and its resources.
set(PRODUCT_BUILD_SOURCE ${CMAKE_SOURCE_DIR}/src/app/product_build.cpp)
set(PRODUCT_OBJECT_SOURCES ${PRODUCT_SOURCES})
list(REMOVE_ITEM PRODUCT_OBJECT_SOURCES ${PRODUCT_BUILD_SOURCE})
add_library(install_objects OBJECT ${PRODUCT_OBJECT_SOURCES} ${CMAKE_SOURCE_DIR}/src/app/winmain.cpp)
function(marbleleaf_product_target target)
  target_include_directories(${target} PRIVATE ${CMAKE_SOURCE_DIR}/src ${EVENT_MESSAGES_DIR} ${MARBLELEAF_GENERATED_DIR})
  target_compile_definitions(${target} PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
  target_compile_options(${target} PRIVATE ${INSTALL_WARNINGS})
endfunction()
marbleleaf_product_target(install_objects)

# An installer: the product's objects with the build number given (none: the source's own).
function(marbleleaf_installer target build)
  add_executable(${target} WIN32 $<TARGET_OBJECTS:install_objects> ${PRODUCT_BUILD_SOURCE}
                 ${CMAKE_SOURCE_DIR}/src/res/install.rc)
  marbleleaf_product_target(${target})
  if(build)
    target_compile_definitions(${target} PRIVATE MARBLELEAF_PRODUCT_BUILD=${build})
  endif()
  # The resources carry the event messages (set here: source properties belong to a directory).
  set_source_files_properties(${CMAKE_SOURCE_DIR}/src/res/install.rc PROPERTIES
                              OBJECT_DEPENDS "${EVENT_MESSAGES_DIR}/event_messages_0409.bin;${EVENT_MESSAGES_DIR}/mlxevent.dll")
  add_dependencies(${target} event_messages)
  target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  target_link_libraries(${target} PRIVATE winspool advapi32 version user32 shell32 wtsapi32 rstrtmgr kernel32)
  set_target_properties(${target} PROPERTIES OUTPUT_NAME install)
  marbleleaf_sign_target(${target})
endfunction()
marbleleaf_installer(install_exe "")

enable_testing()
# What the registered end-to-end tests run: Debian's Wine (the corrected one is built from it),
# the tools that build the corrected Wine, and the X server and screenshot of the log dialog.
include(${CMAKE_SOURCE_DIR}/cmake/require_tool.cmake)
require_tool(E2E_WINE64 wine64 "the e2e tests" NAMES wine64 PATHS /usr/lib/wine)
require_tool(E2E_WINEGCC wine64-tools "building the corrected Wine of the e2e tests" NAMES winegcc-stable winegcc)
require_tool(E2E_DPKG_SOURCE dpkg-dev "building the corrected Wine of the e2e tests" NAMES dpkg-source)
require_tool(E2E_XVFB xvfb "the log dialog's e2e screenshot" NAMES Xvfb)
require_tool(E2E_CONVERT imagemagick "the log dialog's e2e screenshot" NAMES convert)
if(EXISTS ${CMAKE_SOURCE_DIR}/payload/CMakeLists.txt)
  add_subdirectory(payload)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/setup/CMakeLists.txt)
  add_subdirectory(setup)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
endif()

# The baseline of the Wine timings (scripts/bench --wine): only the spooler calls of a run.
add_executable(spooler_baseline ${CMAKE_SOURCE_DIR}/tests/bench/spooler_baseline.cpp)
target_compile_definitions(spooler_baseline PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_options(spooler_baseline PRIVATE ${INSTALL_WARNINGS})
target_link_options(spooler_baseline PRIVATE -static -static-libgcc -static-libstdc++ -municode)
target_link_libraries(spooler_baseline PRIVATE winspool kernel32)
set_target_properties(spooler_baseline PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
