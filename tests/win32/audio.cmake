# The WASAPI adapter against endpoints that wine shows for a private
# PulseAudio daemon with the rig's null sinks, started and stopped around the
# suite by CTest fixtures. The suite is one CTest test so that its whole
# environment list and both fixtures reach it.
set(OVIX_PULSE_DIR ${CMAKE_BINARY_DIR}/pulse-rig)
add_test(NAME pulse_rig_start COMMAND ${CMAKE_SOURCE_DIR}/e2e/pulse_rig.sh start ${OVIX_PULSE_DIR})
add_test(NAME pulse_rig_stop COMMAND ${CMAKE_SOURCE_DIR}/e2e/pulse_rig.sh stop ${OVIX_PULSE_DIR})
set_tests_properties(pulse_rig_start PROPERTIES FIXTURES_SETUP pulse TIMEOUT 60)
set_tests_properties(pulse_rig_stop PROPERTIES FIXTURES_CLEANUP pulse TIMEOUT 60)

add_executable(ovix_win32_audio_tests win32_audio_test.cpp win32_cable_test.cpp)
target_include_directories(ovix_win32_audio_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(ovix_win32_audio_tests PRIVATE ovix_engine ovix_cable ovix_platform_win32 GTest::gtest_main ovix_warnings)
add_test(NAME ovix_win32_audio_tests COMMAND ovix_win32_audio_tests)
set_tests_properties(ovix_win32_audio_tests PROPERTIES
  ENVIRONMENT "${OVIX_TEST_ENV};PULSE_SERVER=unix:${OVIX_PULSE_DIR}/native"
  FIXTURES_REQUIRED "${OVIX_TEST_FIXTURES};pulse"
  SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]"
  TIMEOUT 300)
