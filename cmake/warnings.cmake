# The project's warnings, on its own code only. They are errors when
# FWUP_WERROR is on: in the dev, fuzz and CI builds, where every warning must be
# looked at. A packager's or a newer compiler's build does not stop on a new
# warning.
option(FWUP_WERROR "Treat the project's warnings as errors" OFF)
add_library(fwup_warnings INTERFACE)
target_compile_options(fwup_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wformat=2 $<$<BOOL:${FWUP_WERROR}>:-Werror>)
