# SPDX-License-Identifier: MIT
# The Windows programs' tests, run under Wine through the toolchain's
# emulator (scripts/wine-run): the core's tests that need no Linux device,
# the serial upgrade and velmorin-cli.exe against the Linux simulator through
# a COM port of the Wine prefix, the HTTP client against the test server on
# 127.0.0.1, and the native window driven through its control IDs.

# GoogleTest from the sources Debian installs, built with the cross compiler.
set(VELMORIN_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
if(NOT EXISTS ${VELMORIN_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "${VELMORIN_GOOGLETEST_SOURCE} is missing: run scripts/install-deps")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${VELMORIN_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

# The Linux simulator that plays the chargers behind Wine's COM ports.
set(VELMORIN_HOST_SIM ${PROJECT_SOURCE_DIR}/build/debug/sim/velmorin-sim CACHE FILEPATH
    "velmorin-sim of a Linux build, for the tests through Wine's COM ports")
set(VELMORIN_WITH_SIM_PORT ${CMAKE_CURRENT_SOURCE_DIR}/windows/with-sim-port)
# The known-answer vectors as Wine shows them (the Linux root is drive Z:).
string(REPLACE "/" "\\" VELMORIN_KNOWN_ANSWERS_WINDOWS "Z:${CMAKE_CURRENT_SOURCE_DIR}/data/known-answers")

add_library(velmorin_test_files STATIC
  support/test_files.cpp
  support/windows/test_platform.cpp
  support/windows/loopback_socket.cpp
)
target_include_directories(velmorin_test_files PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(velmorin_test_files PUBLIC ws2_32 PRIVATE velmorin_warnings)

# One CTest test per program: each start under Wine costs a second or more,
# so the cases are not listed one by one.
function(velmorin_wine_test name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(${name} PRIVATE velmorin_core velmorin_test_files velmorin_warnings
                                        GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  set_tests_properties(${name} PROPERTIES LABELS wine TIMEOUT 600)
endfunction()

velmorin_wine_test(win_image_tests image/des_bit_array.cpp image/sha256_test.cpp
                   image/update_file_test.cpp)
velmorin_wine_test(win_online_tests online/catalogue_test.cpp online/windows/private_directory_test.cpp
                   support/http_server.cpp)
velmorin_wine_test(win_session_tests session/download_flow_test.cpp session/hyperlink_texts_test.cpp
                   session/ledger_test.cpp session/main_window_logic_test.cpp
                   session/startup_test.cpp session/station_test.cpp)
# The cross compiler (GCC 12 at -O3) takes the strings in this test's tables
# of aggregates for uninitialised; every member is given.
set_source_files_properties(session/main_window_logic_test.cpp TARGET_DIRECTORY win_session_tests
                            PROPERTIES COMPILE_OPTIONS -Wno-maybe-uninitialized)

# The serial upgrade through a COM port of the Wine prefix, with a recording
# host: the host's messages and progress, the payload the charger saved.
add_executable(win_serial_upgrade_tests windows/serial_upgrade_over_com_test.cpp
                                        support/recording_host.cpp)
target_include_directories(win_serial_upgrade_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(win_serial_upgrade_tests PRIVATE velmorin_core velmorin_test_files nlohmann_json::nlohmann_json
                                                       velmorin_warnings GTest::gtest_main)
add_test(NAME win_serial_upgrade_tests
         COMMAND ${VELMORIN_WITH_SIM_PORT} COM7 --
                 ${PROJECT_SOURCE_DIR}/scripts/wine-run $<TARGET_FILE:win_serial_upgrade_tests>
                 --gtest_brief=1)
set_tests_properties(win_serial_upgrade_tests PROPERTIES LABELS wine TIMEOUT 600
                     ENVIRONMENT "VELMORIN_HOST_SIM=${VELMORIN_HOST_SIM};VELMORIN_TEST_PORT=COM7")

# velmorin-cli.exe: info on sealed files, list, update through a COM port.
add_test(NAME win_cli_tests
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/cli-under-wine
                 $<TARGET_FILE:velmorin-cli> ${VELMORIN_HOST_SIM})
set_tests_properties(win_cli_tests PROPERTIES LABELS wine TIMEOUT 900)

# The installer: installs, runs and uninstalls silently.
add_test(NAME win_installer_test
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows/installer-under-wine ${VELMORIN_SETUP})
set_tests_properties(win_installer_test PROPERTIES LABELS wine TIMEOUT 300)

# The native window driven through its control IDs against the simulator
# (and, with --screenshot, the README's pictures: scripts/screenshot-windows),
# and its controls on real windows; both need a display (Xvfb). The charger
# refuses block 10 once: the first run, which Windows' session end cuts off
# as the window shows the second attempt (--end-session), takes that
# refusal, and the window's own run then goes through without one.
add_executable(win32_dialog_test windows/win32_dialog_test.cpp)
target_link_libraries(win32_dialog_test PRIVATE velmorin_win32 windowscodecs uuid velmorin_warnings)
target_link_options(win32_dialog_test PRIVATE -municode)
add_executable(win32_controls_tests windows/win32_controls_test.cpp)
target_link_libraries(win32_controls_tests PRIVATE velmorin_win32 GTest::gtest_main
                                                   velmorin_warnings)
# The download dialog against the test HTTP server.
add_executable(win32_download_dialog_tests windows/win32_download_dialog_test.cpp
                                           support/http_server.cpp)
target_include_directories(win32_download_dialog_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(win32_download_dialog_tests PRIVATE velmorin_win32 velmorin_test_files
                                                          GTest::gtest_main velmorin_warnings)
set(VELMORIN_XVFB_RUN ${CMAKE_CURRENT_SOURCE_DIR}/windows/on-display)
add_test(NAME win32_dialog_test
         COMMAND ${VELMORIN_WITH_SIM_PORT} COM8 --model-code 0x21
                 --refuse-block 10 --refuse-count 1 --
                 ${CMAKE_CURRENT_SOURCE_DIR}/windows/payload-arrives
                 ${CMAKE_CURRENT_SOURCE_DIR}/data/known-answers/whole-file.payload
                 ${VELMORIN_XVFB_RUN} ${PROJECT_SOURCE_DIR}/scripts/wine-run
                 $<TARGET_FILE:win32_dialog_test> ${VELMORIN_KNOWN_ANSWERS_WINDOWS}\\whole-file.bin COM8
                 --end-session)
add_test(NAME win32_controls_tests
         COMMAND ${VELMORIN_XVFB_RUN} ${PROJECT_SOURCE_DIR}/scripts/wine-run
                 $<TARGET_FILE:win32_controls_tests> --gtest_brief=1)
add_test(NAME win32_download_dialog_tests
         COMMAND ${VELMORIN_XVFB_RUN} ${PROJECT_SOURCE_DIR}/scripts/wine-run
                 $<TARGET_FILE:win32_download_dialog_tests> --gtest_brief=1)
set_tests_properties(win32_dialog_test win32_controls_tests win32_download_dialog_tests PROPERTIES LABELS wine TIMEOUT 600
                     RESOURCE_LOCK wine-desktop
                     ENVIRONMENT "VELMORIN_HOST_SIM=${VELMORIN_HOST_SIM}")
