# Read by cpack: two packages of one commit are byte-identical, as every
# timestamp in the .deb is the commit's time (or a fixed one outside git),
# unless the builder has chosen SOURCE_DATE_EPOCH itself.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CMAKE_CURRENT_LIST_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE failed ERROR_QUIET)
  if(failed OR NOT epoch MATCHES "^[0-9]+$")
    set(epoch 1796515200) # 2026-12-06, 00:00 UTC
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
