# Windows only, run under Wine: the handler and its factory in-process, the DLL's exports and
# unload accounting, the binaries' imports, the console tool (on a console and redirected), and
# the whole chain through real COM and the installer. Included from tests/CMakeLists.txt.
set_tests_properties(MetadataDate PROPERTIES ENVIRONMENT "TZ=${VELLUMTAG_TEST_ZONE}")

vellumtag_test(PropertyExtension)
target_link_libraries(test_PropertyExtension PRIVATE vellumtag_com)

vellumtag_test(ComServer)
target_link_libraries(test_ComServer PRIVATE vellumtag_shell)
add_dependencies(test_ComServer Vellumtag_x64)

# The binaries may need nothing but system DLLs, and the DLL exports its entry points by name.
add_test(NAME windows_binaries
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows_binaries.sh ${CMAKE_OBJDUMP}
                 $<TARGET_FILE:Vellumtag> $<TARGET_FILE:Vellumtag_x64>)

add_test(NAME console_tool_windows
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/console_tool_windows.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                 $<TARGET_FILE:Vellumtag> ${PROJECT_SOURCE_DIR}/samples)

# Not a test of its own: tests/real_com.sh runs it stage by stage around regsvr32 and the
# installer. No other test writes to the prefix's registry.
add_executable(test_RealCom test_RealCom.cpp)
target_link_libraries(test_RealCom PRIVATE vellumtag_shell vellumtag_reader vellumtag_testsupport
                      GTest::gtest_main vellumtag_warnings ole32 shlwapi uuid)
target_include_directories(test_RealCom PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(test_RealCom PRIVATE VELLUMTAG_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELLUMTAG_PACKAGE_DLL="${VELLUMTAG_PACKAGE_DIR}/Vellumtag_x64.dll")
add_dependencies(test_RealCom windows_package)
add_test(NAME real_com
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_com.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                 ${VELLUMTAG_PACKAGE_DIR} $<TARGET_FILE:test_RealCom>)
set_tests_properties(real_com PROPERTIES TIMEOUT 300)
