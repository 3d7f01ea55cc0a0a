# The test programs of the Windows build, run under Wine (CMAKE_CROSSCOMPILING_EMULATOR): the tests
# of behaviour both backends share, and the Win32 backend's own tests (tests/platform/win32/). One
# Wine process per program: add_test, not gtest_discover_tests, which would start Wine per case.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

file(GLOB KV_WIN32_TEST_SUPPORT CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/win32/*.cpp)
add_library(kv_test_support_win STATIC ${KV_WIN32_TEST_SUPPORT} ${CMAKE_CURRENT_SOURCE_DIR}/support/ManualClock.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/support/PackageFixtures.cpp ${CMAKE_CURRENT_SOURCE_DIR}/support/PeFixtures.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/support/ScriptedUi.cpp)
target_include_directories(kv_test_support_win PUBLIC ${KV_SOURCE_ROOT})
target_link_libraries(kv_test_support_win PUBLIC kv_platform ZLIB::ZLIB gtest gmock)

# A test program of the listed sources, run once under Wine.
function(kv_add_windows_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE kv_test_support_win ${ARG_LIBRARIES} gtest_main)
  add_test(NAME win.${name} COMMAND ${name})
  set_tests_properties(win.${name} PROPERTIES TIMEOUT 300)
endfunction()

set(T ${CMAKE_CURRENT_SOURCE_DIR})
kv_add_windows_test(kv_formats_tests LIBRARIES kv_formats SOURCES
  ${T}/formats/PeImageTest.cpp ${T}/formats/PeProgramWriterTest.cpp ${T}/formats/RtfReaderTest.cpp
  ${T}/formats/TextTest.cpp)
kv_add_windows_test(kv_platform_tests LIBRARIES kv_platform SOURCES ${T}/platform/TimersTest.cpp)
file(GLOB KV_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${T}/platform/win32/*.cpp)
kv_add_windows_test(kv_win32_tests LIBRARIES kv_engine SOURCES ${KV_WIN32_TEST_SOURCES})
kv_add_windows_test(kv_engine_tests LIBRARIES kv_engine SOURCES ${T}/engine/PackageRecordTest.cpp)
file(GLOB KV_WIZARD_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${T}/wizard/win32/*.cpp)
kv_add_windows_test(kv_wizard_tests LIBRARIES kv_wizard SOURCES ${T}/wizard/CommandLineTest.cpp
  ${KV_WIZARD_WIN32_TEST_SOURCES})
add_dependencies(kv_wizard_tests korvane-update)  # the program its second-copy test starts
kv_add_windows_test(kv_products_tests LIBRARIES kv_products SOURCES ${T}/products/ProductTableTest.cpp)
file(GLOB KV_DB_WIN32_TEST_SOURCES CONFIGURE_DEPENDS ${T}/db/win32/*.cpp)
kv_add_windows_test(kv_db_tests LIBRARIES kv_db SOURCES
  ${T}/db/CommandScriptTest.cpp ${T}/db/ConnectionStringTest.cpp ${T}/db/ValueTest.cpp ${KV_DB_WIN32_TEST_SOURCES})

# The package in a Windows program's own resources: kvpack (the Linux tool, from build/) makes a
# small Windows program an update program, which reads its package under Wine; binutils read the
# result. scripts/test-windows builds that kvpack first.
set(KV_HOST_BUILD ${KV_SOURCE_ROOT}/build CACHE PATH "The Linux build, whose kvpack makes Windows update programs")
add_executable(kv_own_package_program ${T}/engine/win32/OwnPackageProgram.cpp ${T}/engine/win32/OwnPackageProgram.rc)
target_include_directories(kv_own_package_program PRIVATE ${T}/engine/win32)
target_link_libraries(kv_own_package_program PRIVATE kv_engine imagehlp)
add_test(NAME win.own_package
  COMMAND ${CMAKE_COMMAND} -DKVPACK=${KV_HOST_BUILD}/bin/kvpack -DSTUB=$<TARGET_FILE:kv_own_package_program>
          -DPACKAGE=${T}/engine/win32/package -DWORK=${CMAKE_BINARY_DIR}/own-package -DWINE=${KV_WINE64}
          -DOBJDUMP=${CMAKE_OBJDUMP} -DWINDRES=${CMAKE_RC_COMPILER} -P ${T}/engine/win32/OwnPackageTest.cmake)
set_tests_properties(win.own_package PROPERTIES ENVIRONMENT "WINEPREFIX=${KV_WINEPREFIX}" TIMEOUT 300)

# The demo's update programs, Linux and Windows, on the same installation (tests/products/win32/
# EndToEnd.sh): the Windows program is korvane-update.exe, the file holder kv_hold_file.exe.
add_executable(kv_hold_file ${T}/products/helpers/HoldFile.cpp)
target_link_libraries(kv_hold_file PRIVATE kv_platform)
add_test(NAME win.end_to_end
  COMMAND bash ${T}/products/win32/EndToEnd.sh ${KV_HOST_BUILD} ${CMAKE_BINARY_DIR} ${CMAKE_BINARY_DIR}/end-to-end)
set_tests_properties(win.end_to_end PROPERTIES TIMEOUT 600)

include(${CMAKE_CURRENT_SOURCE_DIR}/app/win32/WizardWindow.cmake)
