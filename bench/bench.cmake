# Benchmarks print figures; they are not tests and never fail on a time.
add_custom_target(bench
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/bench/startup_bench.py
          --exe $<TARGET_FILE:Uninstall>
  DEPENDS Uninstall USES_TERMINAL)
