# The campaigns of `make fuzz` (scripts/fuzz.sh runs them at full size) and their short
# fixed-seed slices in `make test`.
file(GLOB FUZZ_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/fuzz/*.cpp)
add_executable(fuzz ${FUZZ_SOURCES} tests/unit/quiet_diagnostics.cpp ${RESOURCE_SCRIPT})
target_link_libraries(fuzz PRIVATE bdlcore_checked)
add_dependencies(fuzz testlng)
# The campaign of the language module rewrites copies of the test module.
target_compile_definitions(fuzz PRIVATE BDL_TEST_MODULES="${CMAKE_BINARY_DIR}/fixtures")
set_target_properties(fuzz PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)

# The slices: a fixed seed, a few seconds each. No display: a message box (/warning) fails at once
# instead of waiting.
set(FUZZ_SLICE_SEED 20261208)
set(FUZZ_CAMPAIGNS switches langfile langmodule settings list foreign faults cuts)
set(FUZZ_PARSERS switches langfile langmodule settings list)
foreach(campaign ${FUZZ_CAMPAIGNS})
  add_test(NAME fuzz.${campaign} COMMAND fuzz ${campaign} --slice --seed ${FUZZ_SLICE_SEED})
  set_tests_properties(fuzz.${campaign} PROPERTIES ENVIRONMENT "DISPLAY=" TIMEOUT 300)
endforeach()
# The parsers once more under Wine's heap checks, as the file layer is (`make fuzz` runs them
# whole under the checks).
foreach(campaign ${FUZZ_PARSERS})
  if(campaign STREQUAL "list")
    set(count 30)
  else()
    set(count 100)
  endif()
  add_test(NAME heap.fuzz.${campaign}
           COMMAND fuzz ${campaign} --count ${count} --seed ${FUZZ_SLICE_SEED})
  set_tests_properties(heap.fuzz.${campaign} PROPERTIES ENVIRONMENT "WINEDEBUG=warn+heap;DISPLAY="
                       FAIL_REGULAR_EXPRESSION ":heap:" TIMEOUT 300)
endforeach()
