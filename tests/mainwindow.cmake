pw_add_test(tst_mainwindow SOURCES tst_mainwindow.cpp LIBS pw_app)
pw_add_test(tst_language SOURCES tst_language.cpp LIBS pw_app)
# The same, on a machine whose fonts have no Chinese glyphs.
add_test(NAME tst_language_without_cjk_font COMMAND tst_language chineseNeedsAFontWithItsGlyphs)
set_tests_properties(tst_language_without_cjk_font PROPERTIES TIMEOUT 120 ENVIRONMENT
  "${PW_TEST_ENVIRONMENT};FONTCONFIG_FILE=${CMAKE_CURRENT_SOURCE_DIR}/fonts-without-cjk.conf;PW_FONTS_WITHOUT_CJK=1")
pw_add_test(tst_workspacewindow SOURCES tst_workspacewindow.cpp LIBS pw_app)
