# A short run of one fuzz target, for ctest: its seeds and RUNS more inputs
# (a fixed seed, so every run tries the same inputs), with leak detection.
# Fails on any crash, leak, sanitizer report or failed check, and prints the
# finding. Usage:
#   cmake -DFUZZ_DIR=<fuzz build> -DTARGET=<name> -DWORK=<scratch folder>
#         [-DRUNS=<n>] [-DCORPUS=<target whose seeds and dictionary it takes>] -P tests/fuzz/smoke.cmake
foreach(var FUZZ_DIR TARGET WORK)
  if(NOT ${var})
    message(FATAL_ERROR "smoke.cmake: ${var} is not set")
  endif()
endforeach()
if(NOT RUNS)
  set(RUNS 20000)
endif()
if(NOT CORPUS)
  set(CORPUS ${TARGET})
endif()

set(fuzzer ${FUZZ_DIR}/tests/fuzz/fuzz_${TARGET})
set(seeds ${FUZZ_DIR}/tests/fuzz/seeds/${CORPUS})
if(NOT EXISTS ${fuzzer} OR NOT EXISTS ${seeds})
  message(FATAL_ERROR "no ${fuzzer} or no seeds: build the fuzz build first (scripts/build fuzz)")
endif()

# New inputs go to a scratch corpus, so the seeds stay as made.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus ${WORK}/findings)
set(ENV{ASAN_OPTIONS} "detect_leaks=1:allocator_may_return_null=1")
set(ENV{UBSAN_OPTIONS} "print_stacktrace=1")
execute_process(
  COMMAND ${fuzzer} -runs=${RUNS} -seed=1 -max_total_time=50 -timeout=10 -print_final_stats=1
          -dict=${CMAKE_CURRENT_LIST_DIR}/${CORPUS}.dict -artifact_prefix=${WORK}/findings/
          ${WORK}/corpus ${seeds}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

string(REGEX MATCH "stat::number_of_executed_units: *[0-9]+" execs "${output}")
string(REGEX MATCHALL "cov: [0-9]+ ft: [0-9]+" coverage "${output}")
list(POP_BACK coverage last)
message("fuzz_${TARGET}: ${execs}, ${last}")
file(GLOB findings ${WORK}/findings/*)
if(NOT result EQUAL 0 OR findings)
  string(LENGTH "${output}" length)
  if(length GREATER 6000)
    math(EXPR from "${length} - 6000")
    string(SUBSTRING "${output}" ${from} -1 output)
  endif()
  message(FATAL_ERROR "fuzz_${TARGET} failed (${result}); findings: ${findings}\n${output}")
endif()
