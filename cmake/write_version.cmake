# cmake -DSOURCE_DIR=... -DOUTPUT=... -DFWUP_VERSION=... [-DFWUP_COMMIT=...] -P write_version.cmake
# Writes the build's version header, and touches it only when its text changes,
# so a build after a new commit recompiles just what prints the version.
if(NOT DEFINED FWUP_COMMIT OR FWUP_COMMIT STREQUAL "")
  set(FWUP_COMMIT "")
  find_program(GIT git)
  if(GIT)
    execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} rev-parse --short=12 HEAD
      OUTPUT_VARIABLE FWUP_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      set(FWUP_COMMIT "")
    else()
      execute_process(COMMAND ${GIT} -C ${SOURCE_DIR} status --porcelain --untracked-files=no
        OUTPUT_VARIABLE changes ERROR_QUIET)
      if(NOT changes STREQUAL "")
        string(APPEND FWUP_COMMIT "-modified")
      endif()
    endif()
  endif()
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/build_version.h.in ${OUTPUT}.tmp @ONLY)
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.tmp)
