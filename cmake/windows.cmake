# The real program: install.exe, a GUI program, statically linked.
enable_language(RC)
add_executable(install WIN32 ${PRODUCT_SOURCES} ${CMAKE_SOURCE_DIR}/src/app/winmain.cpp
               ${CMAKE_SOURCE_DIR}/src/res/install.rc)
target_include_directories(install PRIVATE ${CMAKE_SOURCE_DIR}/src)
target_compile_definitions(install PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601)
target_compile_options(install PRIVATE ${INSTALL_WARNINGS})
target_link_options(install PRIVATE -static -static-libgcc -static-libstdc++ -municode)
target_link_libraries(install PRIVATE winspool advapi32 version user32 shell32 kernel32)
set_target_properties(install PROPERTIES OUTPUT_NAME install)

enable_testing()
if(EXISTS ${CMAKE_SOURCE_DIR}/payload/CMakeLists.txt)
  add_subdirectory(payload)
endif()
if(EXISTS ${CMAKE_SOURCE_DIR}/tests/e2e/CMakeLists.txt)
  add_subdirectory(tests/e2e)
endif()
