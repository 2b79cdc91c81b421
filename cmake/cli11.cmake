# CLI11, the command-line parser of fwupgrade-cli: header-only, from Debian's
# libcli11-dev. The Windows cross builds use the same headers, through a folder
# that holds only them, so the host's other headers never shadow MinGW's.
find_path(FWUP_CLI11_INCLUDE_DIR CLI/CLI.hpp
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH
  DOC "folder holding CLI/CLI.hpp (Debian: libcli11-dev)")
if(NOT FWUP_CLI11_INCLUDE_DIR)
  message(FATAL_ERROR "CLI11 not found (Debian: libcli11-dev); set FWUP_CLI11_INCLUDE_DIR")
endif()

set(fwup_cli11_dir ${PROJECT_BINARY_DIR}/cli11)
file(MAKE_DIRECTORY ${fwup_cli11_dir})
file(CREATE_LINK ${FWUP_CLI11_INCLUDE_DIR}/CLI ${fwup_cli11_dir}/CLI SYMBOLIC)

add_library(fwup_cli11 INTERFACE)
target_include_directories(fwup_cli11 SYSTEM INTERFACE ${fwup_cli11_dir})
# CLI11 uses <filesystem> when the compiler has it; the Windows programs must
# not need std::filesystem (its runtime needs a newer Windows), so it is off
# everywhere for one behaviour on every system.
target_compile_definitions(fwup_cli11 INTERFACE CLI11_HAS_FILESYSTEM=0)
