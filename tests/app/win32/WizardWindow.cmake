# The wizard window of korvane-update.exe under Wine, driven from another process by window
# messages: kvpack (the Linux tool) makes the demo's shared-files update program of the built
# korvane-update.exe, then the driver starts it, goes through every page and the run, and compares
# the report with an unattended run's. It needs a display (scripts/test-windows runs CTest under
# xvfb-run) and the French locale, under which the system's boxes say "Oui" and "Non".
# The demo's shared-files package folder, from the Linux build (target demo_package).
set(KV_HOST_DEMO_PACKAGE ${KV_HOST_BUILD}/demo/package)
set(KV_WIZARD_WORK ${CMAKE_BINARY_DIR}/wizard-window)
file(MAKE_DIRECTORY ${KV_WIZARD_WORK})

add_executable(kv_wizard_driver ${CMAKE_CURRENT_LIST_DIR}/WizardDriverTest.cpp)
target_include_directories(kv_wizard_driver PRIVATE ${KV_SOURCE_ROOT})
target_link_libraries(kv_wizard_driver PRIVATE kv_formats gtest_main)
add_dependencies(kv_wizard_driver korvane-update)

add_test(NAME win.wizard_program
  COMMAND ${KV_HOST_BUILD}/bin/kvpack build ${KV_HOST_DEMO_PACKAGE} -o ${KV_WIZARD_WORK}/KorvaneFichiersCommuns.exe
          --stub $<TARGET_FILE:korvane-update>)
set_tests_properties(win.wizard_program PROPERTIES FIXTURES_SETUP wizard_program)

add_test(NAME win.wizard_window COMMAND kv_wizard_driver)
set_tests_properties(win.wizard_window PROPERTIES
  FIXTURES_REQUIRED wizard_program TIMEOUT 300
  ENVIRONMENT "LANG=fr_FR.UTF-8;LC_ALL=fr_FR.UTF-8;KV_WIZARD_PROGRAM=${KV_WIZARD_WORK}/KorvaneFichiersCommuns.exe;KV_WIZARD_PACKAGE=${KV_HOST_DEMO_PACKAGE}")

# The window's own parts, in process.
kv_add_windows_test(kv_win32_window_tests LIBRARIES kv_win32_window SOURCES ${CMAKE_CURRENT_LIST_DIR}/RichTextTest.cpp)
