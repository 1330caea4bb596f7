# vellumtag_version_info(TARGET DESCRIPTION): gives a Windows binary its VERSIONINFO resource
# (version, product and company name, the description and the file name), compiled by the
# toolchain's resource compiler (windres) from cmake/VersionInfo.rc.in. The version is the
# project's.
function(vellumtag_version_info target description)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(VELLUMTAG_RC_FILETYPE VFT_APP)
        set(suffix ${CMAKE_EXECUTABLE_SUFFIX})
    else()
        set(VELLUMTAG_RC_FILETYPE VFT_DLL)
        set(suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
    endif()
    get_target_property(name ${target} OUTPUT_NAME)
    if(NOT name)
        set(name ${target})
    endif()
    set(VELLUMTAG_RC_INTERNAL_NAME ${name})
    set(VELLUMTAG_RC_FILENAME ${name}${suffix})
    set(VELLUMTAG_RC_DESCRIPTION ${description})
    set(rc ${PROJECT_BINARY_DIR}/generated/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionInfo.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
endfunction()
