# The cable's Windows half under wine: the checked installer run with real
# Authenticode signatures (a stand-in installer the test signs with a
# certificate authority of its own), through cable_tool.exe and through
# "VantorOvix.exe --install-cable"; in a wine prefix of its own, on the rig.
add_executable(ovix_cable_standin cable_standin_installer.cpp)
target_link_libraries(ovix_cable_standin PRIVATE user32 ovix_warnings)
add_executable(ovix_cable_tool cable_tool.cpp)
target_link_libraries(ovix_cable_tool PRIVATE ovix_cable ovix_platform_win32 crypt32 ovix_warnings)
if(MINGW)
  target_link_options(ovix_cable_standin PRIVATE -municode)
  target_link_options(ovix_cable_tool PRIVATE -municode)
endif()

find_program(OVIX_OSSLSIGNCODE osslsigncode)
find_program(OVIX_OPENSSL openssl)
add_test(NAME cable_installer_signatures COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cable_install.sh
  $<TARGET_FILE:VantorOvix> $<TARGET_FILE:ovix_cable_tool> $<TARGET_FILE:ovix_cable_standin>
  ${CMAKE_CURRENT_BINARY_DIR}/cable-install)
set_tests_properties(cable_installer_signatures PROPERTIES
  ENVIRONMENT "PULSE_SERVER=unix:${OVIX_PULSE_DIR}/native"
  FIXTURES_REQUIRED pulse TIMEOUT 600)
if(NOT OVIX_OSSLSIGNCODE OR NOT OVIX_OPENSSL)
  message(STATUS "cable tests: osslsigncode or openssl is missing; the installer signature test is disabled")
  set_tests_properties(cable_installer_signatures PROPERTIES DISABLED TRUE)
endif()
