# Dataset layer, fields and the statement engine.
set(SHELFRA_DATASET_SOURCES
  catalogue_schema.cpp
  collation.cpp
  database.cpp
  dataset.cpp
  db_dataset.cpp
  engine_dataset.cpp
  engine_error.cpp
  field.cpp
  field_text.cpp
  kana_fold.cpp
  query.cpp
  search_index.cpp
  session.cpp
  sql_condition.cpp
  sql_lexer.cpp
  sql_parser.cpp
  sql_statement.cpp
  table.cpp
)
set(SHELFRA_DATASET_TESTS collation_test.cpp dataset_test.cpp field_text_test.cpp kana_fold_test.cpp query_test.cpp search_index_test.cpp)
