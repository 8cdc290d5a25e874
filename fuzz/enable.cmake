# Adds the fuzz targets to the project's own build. Given to CMake as
#   -DCMAKE_PROJECT_shelfra_INCLUDE=<repo>/fuzz/enable.cmake
# it runs right after project(); the targets are defined once the top-level file has been
# read, so they link the libraries of the very same build (scripts/fuzz.sh does this).
set(SHELFRA_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL include ${SHELFRA_FUZZ_DIR}/fuzz_targets.cmake)
