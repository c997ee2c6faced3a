# Unit tests (GoogleTest, one executable per area, run through Wine) and the end-to-end tests
# that run the built Uninstall.exe in the test prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/scripts/wine-run.sh)

set(GTEST_ROOT /usr/src/googletest/googletest)
# GoogleTest echoes every failure and skip to OutputDebugStringA for an attached debugger. That
# call raises an exception which, in Wine's 32-bit half on an emulated CPU, kills the process, so
# one failure would hide the rest: the echo is left out of the copy built here.
file(READ ${GTEST_ROOT}/src/gtest.cc GTEST_MAIN_SOURCE)
string(REPLACE "::OutputDebugStringA(" "(void)(" GTEST_MAIN_SOURCE "${GTEST_MAIN_SOURCE}")
file(WRITE ${CMAKE_BINARY_DIR}/gtest-quiet/gtest.cc "${GTEST_MAIN_SOURCE}")
file(GLOB GTEST_SOURCES ${GTEST_ROOT}/src/gtest-*.cc)
list(REMOVE_ITEM GTEST_SOURCES ${GTEST_ROOT}/src/gtest-all.cc)
add_library(gtest_cross STATIC ${GTEST_SOURCES} ${CMAKE_BINARY_DIR}/gtest-quiet/gtest.cc
                               ${GTEST_ROOT}/src/gtest_main.cc)
target_include_directories(gtest_cross PUBLIC ${GTEST_ROOT}/include PRIVATE ${GTEST_ROOT})
target_compile_options(gtest_cross PRIVATE -w)

file(GLOB UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*_test.cpp)
foreach(source ${UNIT_TESTS})
  get_filename_component(name ${source} NAME_WE)
  # The resources come along so that string lookups find the program's own texts.
  add_executable(${name} ${source} tests/unit/quiet_diagnostics.cpp ${RESOURCE_SCRIPT})
  target_link_libraries(${name} PRIVATE bdlcore_checked gtest_cross)
  target_compile_definitions(${name} PRIVATE BDL_FIXTURES="${CMAKE_SOURCE_DIR}/tests/fixtures")
  # A folder of its own: files a test puts beside its module ("Bundlo.ini", say) reach no other.
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/unit/${name})
  add_test(NAME unit.${name} COMMAND ${name} --gtest_brief=1)
endforeach()

add_executable(guidriver tests/gui/guidriver.cpp)
target_link_options(guidriver PRIVATE -municode)

# Tests of real dialogs need a display; the end-to-end scenario test_dialog_layout.py runs them
# under a virtual one.
add_executable(layout_test tests/gui/layout_test.cpp tests/unit/quiet_diagnostics.cpp
                           ${RESOURCE_SCRIPT})
target_link_libraries(layout_test PRIVATE bdlcore_checked gtest_cross)
set_target_properties(layout_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/gui)
add_executable(setup_dialogs_test tests/gui/setup_dialogs_test.cpp
                                  tests/unit/quiet_diagnostics.cpp ${RESOURCE_SCRIPT})
target_link_libraries(setup_dialogs_test PRIVATE bdlcore_checked gtest_cross)
set_target_properties(setup_dialogs_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/gui)

# Single steps of the integration engine for the end-to-end scenarios.
add_executable(integration_driver tests/tools/integration_driver.cpp ${RESOURCE_SCRIPT})
target_link_libraries(integration_driver PRIVATE bdlcore_checked)
target_link_options(integration_driver PRIVATE -municode)
set_target_properties(integration_driver PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

# The registry areas the round trips compare, read in seconds rather than through "reg export".
add_executable(registry_dump tests/tools/registry_dump.cpp tests/fuzz/registry_state.cpp
                             tests/fuzz/fuzz_support.cpp)
target_link_libraries(registry_dump PRIVATE bdlcore_checked)
target_link_options(registry_dump PRIVATE -municode)
set_target_properties(registry_dump PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tools)

find_package(Python3 COMPONENTS Interpreter REQUIRED)
file(GLOB E2E_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/e2e/test_*.py)
foreach(script ${E2E_TESTS})
  get_filename_component(name ${script} NAME_WE)
  add_test(NAME e2e.${name}
           COMMAND ${Python3_EXECUTABLE} ${script}
                   --exe $<TARGET_FILE:Uninstall> --driver $<TARGET_FILE:guidriver>
                   --build ${CMAKE_BINARY_DIR})
  set_tests_properties(e2e.${name} PROPERTIES TIMEOUT 600)
endforeach()


# The file layer again under Wine's heap checks: a damaged block or a bad free prints a ":heap:"
# line, which does not change the exit code, so the output decides.
foreach(name paths_test files_test file_test)
  add_test(NAME heap.${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(heap.${name} PROPERTIES ENVIRONMENT "WINEDEBUG=warn+heap"
                       FAIL_REGULAR_EXPRESSION ":heap:" TIMEOUT 120)
endforeach()
include(${CMAKE_SOURCE_DIR}/tests/fixtures/langmodule/langmodule.cmake)
include(${CMAKE_SOURCE_DIR}/tests/fuzz/fuzz.cmake)
