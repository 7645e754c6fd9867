# The host target: the product sources over winsim, tested with GoogleTest.
enable_testing()
find_package(GTest REQUIRED)

set(SANITIZE_FLAGS)
if(INSTALL_SANITIZE)
  set(SANITIZE_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

file(GLOB_RECURSE WINSIM_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/winsim/src/*.cpp)
add_library(winsim STATIC ${WINSIM_SOURCES})
target_include_directories(winsim PUBLIC ${CMAKE_SOURCE_DIR}/winsim/include)
target_link_libraries(winsim PUBLIC ${CMAKE_DL_LIBS})
target_compile_options(winsim PRIVATE ${INSTALL_WARNINGS} ${SANITIZE_FLAGS})

add_library(installcore STATIC ${PRODUCT_SOURCES})
target_include_directories(installcore PUBLIC ${CMAKE_SOURCE_DIR}/src)
target_link_libraries(installcore PUBLIC winsim)
target_compile_options(installcore PRIVATE ${INSTALL_WARNINGS} ${SANITIZE_FLAGS})

file(GLOB_RECURSE UNIT_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp)
add_executable(unit_tests ${UNIT_TEST_SOURCES})
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(unit_tests PRIVATE installcore GTest::gtest GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${INSTALL_WARNINGS} ${SANITIZE_FLAGS})
target_link_options(unit_tests PRIVATE ${SANITIZE_FLAGS})
target_compile_definitions(unit_tests PRIVATE INSTALL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
# The program's resources compiled as for Windows, so that the tests read the dialog the
# program shows (skipped where MinGW's resource compiler is missing). The files the Windows build
# generates for the other resources (the event messages) stand here as empty placeholders.
find_program(INSTALL_WINDRES x86_64-w64-mingw32-windres)
if(INSTALL_WINDRES)
  set(INSTALL_RES ${CMAKE_BINARY_DIR}/install.res)
  set(RES_PLACEHOLDERS ${CMAKE_BINARY_DIR}/res-placeholders)
  file(WRITE ${RES_PLACEHOLDERS}/event_messages_0409.bin "")
  file(WRITE ${RES_PLACEHOLDERS}/mlxevent.dll "")
  add_custom_command(OUTPUT ${INSTALL_RES}
                     COMMAND ${INSTALL_WINDRES} -I ${CMAKE_SOURCE_DIR}/src/res -I ${RES_PLACEHOLDERS} -I ${MARBLELEAF_GENERATED_DIR} --input-format=rc
                             --output-format=res ${CMAKE_SOURCE_DIR}/src/res/install.rc -o ${INSTALL_RES}
                     DEPENDS ${CMAKE_SOURCE_DIR}/src/res/install.rc ${CMAKE_SOURCE_DIR}/src/res/install.manifest
                             ${MARBLELEAF_GENERATED_DIR}/product_version.h)
  add_custom_target(install_res DEPENDS ${INSTALL_RES})
  add_dependencies(unit_tests install_res)
  target_compile_definitions(unit_tests PRIVATE INSTALL_RES_FILE="${INSTALL_RES}")
endif()
include(GoogleTest)
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS unit)
# winsim writes pending file operations as current Windows does; the tests of the pending values,
# the probes, the reboot and the scenarios run once more on a machine that writes the form of
# earlier builds.
gtest_discover_tests(unit_tests DISCOVERY_TIMEOUT 60 TEST_PREFIX documented_form.
                     TEST_FILTER "PendingRenames*:DeferredDeletes*:Probes*:Scenario*:WinsimSystem*:BadInput*:InterruptedRun*"
                     PROPERTIES LABELS unit ENVIRONMENT WINSIM_PENDING_FORM=documented)

if(INSTALL_FUZZ AND EXISTS ${CMAKE_SOURCE_DIR}/tests/fuzz/CMakeLists.txt)
  add_subdirectory(tests/fuzz)
endif()

if(INSTALL_BENCH AND EXISTS ${CMAKE_SOURCE_DIR}/tests/bench/CMakeLists.txt)
  add_subdirectory(tests/bench)
endif()
