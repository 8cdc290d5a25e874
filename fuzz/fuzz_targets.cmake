# libFuzzer targets, one per parser of untrusted input; included by enable.cmake. Needs clang:
# the libraries are built with -fsanitize=fuzzer-no-link (set by scripts/fuzz.sh together with
# the sanitizers) and each target links the fuzzer's main.
# The list of targets; scripts/fuzz.sh reads it too: one name a line, up to the ")".
set(SHELFRA_FUZZERS
  query_string_fuzzer
  template_fuzzer
  sql_fuzzer
  filter_fuzzer
  dbf_fuzzer
  profile_fuzzer
  field_text_fuzzer
  index_fuzzer
)

add_library(shelfra_fuzz_support STATIC ${SHELFRA_FUZZ_DIR}/fuzz_support.cpp)
target_include_directories(shelfra_fuzz_support PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(shelfra_fuzz_support PUBLIC shelfra_data)

foreach(fuzzer IN LISTS SHELFRA_FUZZERS)
  add_executable(${fuzzer} ${SHELFRA_FUZZ_DIR}/${fuzzer}.cpp)
  target_link_libraries(${fuzzer} PRIVATE shelfra_fuzz_support shelfra_produce shelfra_web shelfra_data shelfra_engine shelfra_base)
  target_link_options(${fuzzer} PRIVATE -fsanitize=fuzzer)
  set_target_properties(${fuzzer} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
endforeach()
add_custom_target(fuzzers DEPENDS ${SHELFRA_FUZZERS})
