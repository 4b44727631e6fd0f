# Fails on any include in src/ that points up the layers (see layering.py).
add_test(NAME tst_layering COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/layering.py ${PROJECT_SOURCE_DIR}/src)
