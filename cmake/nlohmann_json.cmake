# nlohmann-json, the JSON library of fwupgrade-cli's --json: header-only, from
# Debian's nlohmann-json3-dev. The Windows cross builds use the same headers
# through a folder that holds only them, so the host's other headers never
# shadow MinGW's.
find_path(FWUP_NLOHMANN_JSON_INCLUDE_DIR nlohmann/json.hpp
  PATHS /usr/include /usr/local/include
  NO_CMAKE_FIND_ROOT_PATH
  DOC "folder holding nlohmann/json.hpp (Debian: nlohmann-json3-dev)")
if(NOT FWUP_NLOHMANN_JSON_INCLUDE_DIR)
  message(FATAL_ERROR "nlohmann-json not found (Debian: nlohmann-json3-dev); set FWUP_NLOHMANN_JSON_INCLUDE_DIR")
endif()

set(fwup_json_dir ${PROJECT_BINARY_DIR}/nlohmann-json)
file(MAKE_DIRECTORY ${fwup_json_dir})
file(CREATE_LINK ${FWUP_NLOHMANN_JSON_INCLUDE_DIR}/nlohmann ${fwup_json_dir}/nlohmann SYMBOLIC)

add_library(fwup_json INTERFACE)
target_include_directories(fwup_json SYSTEM INTERFACE ${fwup_json_dir})
# No streams and no std::filesystem: the document is built and dumped as a
# string, and the Windows programs must not need std::filesystem or file
# streams (their runtime needs a newer Windows).
target_compile_definitions(fwup_json INTERFACE JSON_NO_IO JSON_HAS_FILESYSTEM=0 JSON_HAS_EXPERIMENTAL_FILESYSTEM=0)
