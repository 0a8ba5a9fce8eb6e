# The web page fetch under wine: the stand-in helper (built here, padded to a
# helper's size), served with its checksum list over HTTPS from 127.0.0.1 by
# webfetch.sh, which runs the suite in a prefix of its own.
add_executable(ovix_standin_helper standin_helper.cpp)
target_link_libraries(ovix_standin_helper PRIVATE ovix_warnings)
add_executable(ovix_win32_webfetch_tests win32_webfetch_test.cpp)
target_link_libraries(ovix_win32_webfetch_tests PRIVATE ovix_media_test_support ovix_clip GTest::gtest ovix_warnings)
if(MINGW)
  target_link_options(ovix_standin_helper PRIVATE -municode)
endif()

add_test(NAME webfetch_wine COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/webfetch.sh
  $<TARGET_FILE:ovix_win32_webfetch_tests> $<TARGET_FILE:ovix_standin_helper> ${CMAKE_CURRENT_BINARY_DIR}/webfetch)
set_tests_properties(webfetch_wine PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 600)
