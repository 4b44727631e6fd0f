# Fails when the packaging files disagree with each other or with the
# project's version (see packaging.py); building the .deb itself is
# scripts/check-package.sh's job.
add_test(NAME tst_packaging COMMAND python3 ${CMAKE_CURRENT_SOURCE_DIR}/packaging.py ${PROJECT_SOURCE_DIR})
