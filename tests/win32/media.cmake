# Media Foundation behind the media seam, on audio that media_audio.sh makes
# at test time (wine decodes through GStreamer: scripts/test.sh installs its
# plugins). One CTest test for the suite, so that the audio's folder and both
# fixtures reach it; the decode speed figure runs after it on the same audio.
set(media_audio_dir ${CMAKE_CURRENT_BINARY_DIR}/media-audio)
add_test(NAME media_audio COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/media_audio.sh ${media_audio_dir})
set_tests_properties(media_audio PROPERTIES FIXTURES_SETUP media_audio TIMEOUT 120)

add_library(ovix_media_test_support STATIC media_test_support.cpp)
target_include_directories(ovix_media_test_support PUBLIC ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ovix_media_test_support PUBLIC ovix_clip ovix_media ovix_platform_win32 mfplat mfuuid ovix_warnings)

add_executable(ovix_win32_media_tests win32_media_test.cpp)
target_link_libraries(ovix_win32_media_tests PRIVATE ovix_media_test_support GTest::gtest ovix_warnings)
add_test(NAME ovix_win32_media_tests COMMAND ovix_win32_media_tests)

# Prints "figure clip_decode_realtime_x N" for a minute of MP3.
add_executable(ovix_media_decode_figure media_decode_figure.cpp)
target_link_libraries(ovix_media_decode_figure PRIVATE ovix_media_test_support ovix_warnings)
add_test(NAME media_decode_figure COMMAND ovix_media_decode_figure)

set_tests_properties(ovix_win32_media_tests media_decode_figure PROPERTIES
  ENVIRONMENT "${OVIX_TEST_ENV};OVIX_MEDIA_AUDIO=${media_audio_dir}"
  FIXTURES_REQUIRED "${OVIX_TEST_FIXTURES};media_audio"
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
  TIMEOUT 300)
