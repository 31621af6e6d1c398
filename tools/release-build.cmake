# The settings of the build the run command installs (cmake -C): optimised,
# the program and its helper without the test suites. The end-to-end test
# builds the program it starts on a display with the same file.
set(CMAKE_BUILD_TYPE Release CACHE STRING "" FORCE)
set(VESSORA_BUILD_TESTS OFF CACHE BOOL "" FORCE)
