# Fails when the host library, the plug-in interface, exports anything of the
# console's store: a SQLite or JSON symbol would tie its ABI to theirs.
execute_process(COMMAND nm -DC --defined-only ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "could not read the exports of ${LIBRARY}")
endif()
string(REGEX MATCHALL "[^\n]*([Ss]qlite|nlohmann)[^\n]*" leaked "${symbols}")
if(leaked)
  list(JOIN leaked "\n" lines)
  message(FATAL_ERROR "${LIBRARY} exports the store's symbols:\n${lines}")
endif()
