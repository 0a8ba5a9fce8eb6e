# The WASAPI adapter against endpoints that wine shows for a private
# PulseAudio daemon with the rig's null sinks, started and stopped around the
# suite by CTest fixtures. The suite is one CTest test so that its whole
# environment list and both fixtures reach it.
set(OVIX_PULSE_DIR ${CMAKE_BINARY_DIR}/pulse-rig)
add_test(NAME pulse_rig_start COMMAND ${CMAKE_SOURCE_DIR}/e2e/pulse_rig.sh start ${OVIX_PULSE_DIR})
add_test(NAME pulse_rig_stop COMMAND ${CMAKE_SOURCE_DIR}/e2e/pulse_rig.sh stop ${OVIX_PULSE_DIR})
set_tests_properties(pulse_rig_start PROPERTIES FIXTURES_SETUP pulse TIMEOUT 60)
set_tests_properties(pulse_rig_stop PROPERTIES FIXTURES_CLEANUP pulse TIMEOUT 60)

# Another program to capture: a window and a tone on the default endpoint.
add_executable(ovix_tone_player tone_player.cpp)
target_link_libraries(ovix_tone_player PRIVATE ovix_platform_win32 ovix_warnings)
if(MINGW)
  target_link_options(ovix_tone_player PRIVATE -municode)
endif()

add_executable(ovix_win32_audio_tests win32_audio_test.cpp win32_cable_test.cpp)
target_include_directories(ovix_win32_audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ovix_win32_audio_tests PRIVATE ovix_engine ovix_cable ovix_platform_win32 GTest::gtest_main ovix_warnings)
add_test(NAME ovix_win32_audio_tests COMMAND ovix_win32_audio_tests)
set_tests_properties(ovix_win32_audio_tests PROPERTIES
  ENVIRONMENT "${OVIX_TEST_ENV};PULSE_SERVER=unix:${OVIX_PULSE_DIR}/native"
  FIXTURES_REQUIRED "${OVIX_TEST_FIXTURES};pulse"
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
  TIMEOUT 300)

# Capturing another program: a display and a prefix of its own (app_audio.sh).
add_executable(ovix_win32_app_audio_tests win32_app_audio_test.cpp)
target_link_libraries(ovix_win32_app_audio_tests PRIVATE ovix_appcapture ovix_platform_win32 GTest::gtest_main
  ovix_warnings)
add_dependencies(ovix_win32_app_audio_tests ovix_tone_player)
add_test(NAME ovix_win32_app_audio_tests COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/app_audio.sh
  $<TARGET_FILE:ovix_win32_app_audio_tests> ${CMAKE_CURRENT_BINARY_DIR}/app-audio)
set_tests_properties(ovix_win32_app_audio_tests PROPERTIES
  ENVIRONMENT "WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;PULSE_SERVER=unix:${OVIX_PULSE_DIR}/native"
  FIXTURES_REQUIRED pulse
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
  TIMEOUT 300)
