# Dataset layer, fields and the statement engine.
set(SHELFRA_DATASET_SOURCES)
set(SHELFRA_DATASET_TESTS)
