# The real program's window under wine and Xvfb, driven from outside by
# ovix_driver.exe: single instance, the installer switch, the portable setup
# on a first run, what a closed window leaves in the registry, Escape on an
# open drop-down, and screenshots of every page and tab at two scales
# (build/screens/).
add_executable(ovix_driver ovix_driver.cpp)
target_link_libraries(ovix_driver PRIVATE ovix_ui gdiplus gdi32 user32 advapi32 ovix_warnings)
if(MINGW)
  target_link_options(ovix_driver PRIVATE -municode)
endif()

# One wine prefix for the window tests, made once; they take turns in it.
set(window_dir ${CMAKE_CURRENT_BINARY_DIR}/window)
add_test(NAME window_prefix COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${window_dir}/wineprefix WINEDEBUG=-all
  WINEDLLOVERRIDES=mscoree,mshtml= sh -c "rm -rf '${window_dir}/wineprefix' && mkdir -p '${window_dir}' && wineboot --init && wineserver -w")
set_tests_properties(window_prefix PROPERTIES FIXTURES_SETUP window_prefix TIMEOUT 600 RESOURCE_LOCK window_prefix)

# Until the pages arrive the window model is a first frame that draws only
# the caption: the checks that need pages are then not run (shown as
# disabled), and the screenshots do not require a page to draw.
file(READ ${CMAKE_SOURCE_DIR}/src/ui/main_window.cpp model_source)
string(FIND "${model_source}" "A first frame until the pages arrive" first_frame)
set(pages_pending 0)
if(first_frame GREATER -1)
  set(pages_pending 1)
  message(STATUS "window tests: the window model is the first frame; the page-dependent window tests are disabled")
endif()

# Page 3's cable section on the rig with and without the cable: it shows the
# status worker's findings, so it waits for the worker to exist.
file(READ ${CMAKE_SOURCE_DIR}/src/cable/cable_status.cpp status_source)
string(FIND "${status_source}" "Placeholder: the status worker" status_placeholder)

set(window_cases second_instance install_switch window_state first_run_setup dropdown_escape screens cable_page
  hotkey_message)
foreach(case IN LISTS window_cases)
  add_test(NAME window_${case} COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/window_tests.sh ${case}
    $<TARGET_FILE:VantorOvix> $<TARGET_FILE:ovix_driver> ${window_dir} ${CMAKE_BINARY_DIR}/../screens)
  set_tests_properties(window_${case} PROPERTIES
    ENVIRONMENT "WINEPREFIX=${window_dir}/wineprefix;WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;OVIX_PAGES_PENDING=${pages_pending}"
    FIXTURES_REQUIRED window_prefix RESOURCE_LOCK window_prefix TIMEOUT 300)
endforeach()
if(pages_pending)
  set_tests_properties(window_first_run_setup window_dropdown_escape PROPERTIES DISABLED TRUE)
endif()
if(pages_pending OR status_placeholder GREATER -1)
  message(STATUS "window tests: the cable status worker is a placeholder; the cable page test is disabled")
  set_tests_properties(window_cable_page PROPERTIES DISABLED TRUE)
endif()

# The hotkeys' actions run once the hotkeys' rules exist.
file(READ ${CMAKE_SOURCE_DIR}/src/soundboard/hotkeys.cpp hotkeys_source)
string(FIND "${hotkeys_source}" "Stubs until the capture" hotkeys_stub)
if(hotkeys_stub GREATER -1)
  message(STATUS "window tests: the hotkeys are stubs; the hotkey message test is disabled")
  set_tests_properties(window_hotkey_message PROPERTIES DISABLED TRUE)
endif()
