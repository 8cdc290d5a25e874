# DBF reader and host configuration.
set(SHELFRA_DBF_SOURCES dbf_file.cpp host_config.cpp)
set(SHELFRA_DBF_TESTS dbf_file_test.cpp host_config_test.cpp)
