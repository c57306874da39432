# Fails when docs/engines.md differs from what `zkmint describe --format markdown` prints, so the
# page cannot go stale. scripts/update-docs.sh rewrites it.
execute_process(COMMAND ${ZKMINT} describe --format markdown OUTPUT_VARIABLE printed RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "zkmint describe failed with status ${status}")
endif()
file(READ ${PAGE} checked_in)
if(NOT printed STREQUAL checked_in)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/engines.md.printed "${printed}")
  message(FATAL_ERROR "${PAGE} is stale: run scripts/update-docs.sh (what the code prints is in "
                      "${CMAKE_CURRENT_BINARY_DIR}/engines.md.printed)")
endif()
