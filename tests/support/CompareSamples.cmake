# Runs make_samples into a fresh folder and compares every file with samples/, byte for byte.
# Variables: MAKE_SAMPLES (the program), EMULATOR (empty or the command that runs it), SAMPLES
# (the committed folder), WORK (a scratch folder, emptied first).
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${EMULATOR} ${MAKE_SAMPLES} ${WORK} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "make_samples failed: ${status}")
endif()
file(GLOB committed RELATIVE ${SAMPLES} ${SAMPLES}/*.pdf)
file(GLOB written RELATIVE ${WORK} ${WORK}/*.pdf)
if(NOT committed STREQUAL written)
    message(FATAL_ERROR "make_samples wrote ${written}, samples/ holds ${committed}")
endif()
foreach(name IN LISTS committed)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SAMPLES}/${name} ${WORK}/${name}
                    RESULT_VARIABLE different)
    if(different)
        message(FATAL_ERROR "${name} differs from what make_samples writes now")
    endif()
endforeach()
