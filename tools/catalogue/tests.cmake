# The catalogue writer's tests. The sample catalogue the whole-program tests read is built by
# sample.cmake beside this file.
set(catalogue_dir ${CMAKE_SOURCE_DIR}/tools/catalogue)

add_test(NAME catalogue_writer
  COMMAND ${Python3_EXECUTABLE} ${catalogue_dir}/test_make_catalogue.py)
