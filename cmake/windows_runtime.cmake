# The Windows programs must run on a bare system: link the C and C++ runtimes
# (and winpthreads) statically so no MinGW DLL has to travel with them.
if(WIN32)
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
