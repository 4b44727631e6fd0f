# Fails on any include in src/ that points up the layers (see layering.py).
add_test(NAME tst_layering COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/layering.py ${PROJECT_SOURCE_DIR}/src)

# Fails when a string literal of src/ changes: captions, messages and log
# texts stay byte for byte unless the inventory is rewritten on purpose.
add_test(NAME tst_literals COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/literals.py ${PROJECT_SOURCE_DIR}/src
  ${CMAKE_CURRENT_SOURCE_DIR}/literals.txt)

# Fails when a Chinese text of src/ is not marked for translation or the
# English catalogue lacks it, leaves it unfinished or keeps one no longer used.
find_program(PW_LUPDATE NAMES lupdate lupdate-qt6 HINTS /usr/lib/qt6/bin REQUIRED)
add_test(NAME tst_translations COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/translations.py ${PROJECT_SOURCE_DIR}/src
  ${PROJECT_SOURCE_DIR}/translations/portwright_en.ts ${PW_LUPDATE})

# Fails when the engine (core, net, session, endpoints) links a display library: the
# probe is linked from the engine alone, with every library on its link line
# recorded as needed, and must need neither Qt Gui nor Qt Widgets.
add_executable(pw_engine_probe engineprobe.cpp)
target_link_libraries(pw_engine_probe PRIVATE pw_endpoints)
target_link_options(pw_engine_probe PRIVATE -Wl,--no-as-needed)
add_test(NAME tst_engine_links COMMAND sh -c
  "needed=$(readelf -d \"$1\") || exit 1; echo \"$needed\" | grep -q 'libQt6Core' || exit 1; if echo \"$needed\" | grep -E 'libQt6(Gui|Widgets)'; then exit 1; fi"
  sh $<TARGET_FILE:pw_engine_probe>)
