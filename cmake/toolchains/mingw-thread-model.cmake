# Refuses a MinGW-w64 compiler of another thread model than win32: the posix
# model links winpthreads into every program (exceptions and static locals use
# it), and winpthreads imports functions that arrived with Windows XP and Vista.
foreach(compiler IN ITEMS CMAKE_C_COMPILER CMAKE_CXX_COMPILER)
  execute_process(COMMAND ${${compiler}} -v
    ERROR_VARIABLE version_text OUTPUT_VARIABLE version_text RESULT_VARIABLE status)
  string(REGEX MATCH "Thread model: ([a-z0-9]+)" found "${version_text}")
  if(NOT status EQUAL 0 OR NOT found)
    message(FATAL_ERROR "${compiler} ${${compiler}} does not report its thread model (is it installed?)")
  endif()
  if(NOT CMAKE_MATCH_1 STREQUAL "win32")
    message(FATAL_ERROR "${compiler} ${${compiler}} has the thread model \"${CMAKE_MATCH_1}\"; "
                        "the Windows builds need \"win32\" (Debian: the ...-win32 compiler variants)")
  endif()
endforeach()
