# Warnings are errors in every build of the project's own code.
add_library(fwup_warnings INTERFACE)
target_compile_options(fwup_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Woverloaded-virtual
  -Wnull-dereference -Wformat=2 -Werror)
