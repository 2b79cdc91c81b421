# fwup_version: the generated header "build_version.h" with the project's
# version and the commit built from, refreshed on every build. A build from a
# source tarball has no commit; packagers may name one with -DFWUP_GIT_COMMIT=.
set(FWUP_GIT_COMMIT "" CACHE STRING "commit shown by --version when the source is no git checkout")
set(fwup_version_header ${PROJECT_BINARY_DIR}/generated/build_version.h)
add_custom_target(fwup_version_header
  BYPRODUCTS ${fwup_version_header}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DOUTPUT=${fwup_version_header}
          -DFWUP_VERSION=${PROJECT_VERSION} -DFWUP_COMMIT=${FWUP_GIT_COMMIT}
          -P ${PROJECT_SOURCE_DIR}/cmake/write_version.cmake
  COMMENT "Version header"
  VERBATIM)
add_library(fwup_version INTERFACE)
target_include_directories(fwup_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
add_dependencies(fwup_version fwup_version_header)
