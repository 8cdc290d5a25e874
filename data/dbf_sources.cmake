# DBF reader and host configuration.
set(SHELFRA_DBF_SOURCES placeholder.cpp)
set(SHELFRA_DBF_TESTS)
