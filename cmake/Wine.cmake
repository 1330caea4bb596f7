# Runs the Windows test programs under Wine through build/<preset>/wine-run, in a prefix of
# the build tree's own that is made on first use. Its DLL overrides keep Wine from offering to
# install Mono and Gecko and from writing menu entries into the home folder.
find_program(VELLUMTAG_WINE NAMES wine64 wine PATHS /usr/lib/wine REQUIRED)
set(VELLUMTAG_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)
