# The Windows programs must run on a bare system: link the C and C++ runtimes
# statically so no MinGW DLL has to travel with them.
if(WIN32)
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
  # A linker map per program and library (build/<preset>/maps/NAME.map): it
  # names the archive member that brought in each import, which the import
  # audit (scripts/check-imports) checks.
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/maps)
  add_link_options("LINKER:-Map=${PROJECT_BINARY_DIR}/maps/$<TARGET_PROPERTY:NAME>.map")
endif()
