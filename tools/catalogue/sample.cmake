# The bundled sample catalogue (図書.DBF, 貸出返却.DBF, Shelfra.ini) built into <build dir>/sample:
# the whole-program tests read it, and it is installed for operators to try the search with.
set(catalogue_dir ${CMAKE_SOURCE_DIR}/tools/catalogue)
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
