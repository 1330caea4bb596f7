# Windows only, run under Wine: the handler and its factory in-process, the DLL's exports and
# unload accounting, the binaries' imports, the console tool (on a console and redirected), and
# the whole chain through real COM and the installer. Included from tests/CMakeLists.txt. The
# windows-x86 build tests its handler in-process and its binary, and builds the 32-bit client
# of real_com, which the x64 build runs beside its own.
set_tests_properties(MetadataDate PROPERTIES ENVIRONMENT "TZ=${VELLUMTAG_TEST_ZONE}")

vellumtag_test(PropertyExtension)
target_link_libraries(test_PropertyExtension PRIVATE vellumtag_com)

vellumtag_test(ComServer)
target_link_libraries(test_ComServer PRIVATE vellumtag_reader)
# The handler's headers only: the server itself is the DLL the test loads.
target_include_directories(test_ComServer PRIVATE ${PROJECT_SOURCE_DIR}/shellext)
add_dependencies(test_ComServer ${VELLUMTAG_HANDLER})
target_compile_definitions(test_ComServer PRIVATE VELLUMTAG_HANDLER_DLL=L"${VELLUMTAG_HANDLER}.dll")

# The binaries may need nothing but system DLLs, are hardened, and the DLL exports its entry
# points by name.
set(binaries $<TARGET_FILE:${VELLUMTAG_HANDLER}>)
if(VELLUMTAG_HANDLER STREQUAL Vellumtag_x64)
    list(APPEND binaries $<TARGET_FILE:Vellumtag> $<TARGET_FILE:VellumtagActions>)
endif()
add_test(NAME windows_binaries
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/windows_binaries.sh ${CMAKE_OBJDUMP} ${binaries})

# Not a test of its own: tests/real_com.sh runs it stage by stage around regsvr32 and the
# installer, the x86 build's beside the x64 build's. No other test writes to the prefix's
# registry. The MSI's next patch version, which the tests upgrade to:
set(next_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
string(APPEND next_version .${next_patch})
add_executable(test_RealCom test_RealCom.cpp)
target_link_libraries(test_RealCom PRIVATE vellumtag_reader vellumtag_testsupport
                      vellumtag_version GTest::gtest_main vellumtag_warnings ole32 shlwapi uuid
                      version)
target_include_directories(test_RealCom PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}
                                                ${PROJECT_SOURCE_DIR}/shellext)
target_compile_definitions(test_RealCom PRIVATE VELLUMTAG_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    VELLUMTAG_PACKAGE_DLL="${VELLUMTAG_PACKAGE_DIR}/${VELLUMTAG_HANDLER}.dll"
    VELLUMTAG_HANDLER_DLL=L"${VELLUMTAG_HANDLER}.dll" VELLUMTAG_NEXT_VERSION="${next_version}")
add_dependencies(test_RealCom windows_package)
if(VELLUMTAG_HANDLER STREQUAL Vellumtag_x86)
    return()
endif()

add_test(NAME console_tool_windows
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/console_tool_windows.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                 $<TARGET_FILE:Vellumtag> ${PROJECT_SOURCE_DIR}/samples)

# The MSI, and one of the next patch version to upgrade it to.
set(next_msi ${CMAKE_BINARY_DIR}/test-upgrade/Vellumtag-${next_version}-windows-x64.msi)
vellumtag_msi(windows_msi_next ${next_msi} ${next_version})
add_dependencies(test_RealCom windows_msi windows_msi_next)
add_test(NAME real_com
         COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/real_com.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                 ${VELLUMTAG_PACKAGE_DIR} $<TARGET_FILE:test_RealCom> ${VELLUMTAG_X86_REALCOM}
                 ${VELLUMTAG_MSI} ${next_msi})
set_tests_properties(real_com PROPERTIES TIMEOUT 300)
