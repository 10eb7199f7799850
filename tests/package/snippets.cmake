# The web server snippets of deploy/linux/, staged from the source tree into a
# temporary root with the built program (tests/package/snippets_test.sh
# --staged): each server in both modes, compression, the settings file refused,
# the allow-list, TLS through nginx. Included from tests/CMakeLists.txt and by
# the package tests' own file; the guard keeps it to one test.
include_guard(GLOBAL)
if(TARGET dorvana)
  add_test(NAME snippets.staged
           COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/snippets_test.sh --staged $<TARGET_FILE:dorvana>)
  set_tests_properties(snippets.staged PROPERTIES LABELS e2e TIMEOUT 300 FIXTURES_REQUIRED fbserver)
endif()
