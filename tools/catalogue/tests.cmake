# The catalogue writer's tests, and the bundled sample catalogue built into <build dir>/sample
# (図書.DBF, 貸出返却.DBF, Shelfra.ini) for the whole-program tests.
set(catalogue_dir ${CMAKE_SOURCE_DIR}/tools/catalogue)

add_test(NAME catalogue_writer
  COMMAND ${Python3_EXECUTABLE} ${catalogue_dir}/test_make_catalogue.py)

set(catalogue_stamp ${CMAKE_BINARY_DIR}/sample/catalogue.stamp)
add_custom_command(OUTPUT ${catalogue_stamp}
  COMMAND ${Python3_EXECUTABLE} ${catalogue_dir}/make_catalogue.py --sample ${CMAKE_BINARY_DIR}/sample
  COMMAND ${CMAKE_COMMAND} -E touch ${catalogue_stamp}
  DEPENDS ${catalogue_dir}/make_catalogue.py
          ${catalogue_dir}/schema/books.csv
          ${catalogue_dir}/schema/loans.csv
          ${CMAKE_SOURCE_DIR}/sample/books.csv
          ${CMAKE_SOURCE_DIR}/sample/loans.csv
          ${CMAKE_SOURCE_DIR}/sample/Shelfra.ini.txt
  COMMENT "Building the sample catalogue")
add_custom_target(catalogue_sample ALL DEPENDS ${catalogue_stamp})
