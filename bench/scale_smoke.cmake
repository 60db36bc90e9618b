# Runs the scaling benchmark on its smallest stores without peers; fails unless it exits 0
# and prints a row for each table.
execute_process(
  COMMAND ${BENCH} --events 1000 --reminders 1000 --no-peers --pipelined-on 1000
  RESULT_VARIABLE status
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  TIMEOUT 120)
message("${output}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "scale_bench ended with ${status}: ${errors}")
endif()
foreach(expected "events \\(ms" "reminders \\(ms" "\n +1000 +[0-9.]+ " "pipelined 14-day lists on 1000 events")
  if(NOT output MATCHES "${expected}")
    message(FATAL_ERROR "scale_bench printed no line matching ${expected}")
  endif()
endforeach()
