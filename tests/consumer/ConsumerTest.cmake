# Installs the build tree into a prefix of its own and uses it as a user would: a consumer built
# with find_package(Vellumtag) and one compiled with what pkg-config gives must print for the
# sample what the console tool prints; the library must export nothing but the interface; the
# Python package must import from its installed folder.
#
#   cmake -DBUILD=<build tree> -DWORK=<scratch folder> -DTOOL=<console tool> -DSAMPLE=<pdf>
#         -DCXX=<compiler> -DLIBDIR=<lib dir> -DVERSION=<version> [-DPYTHON=<python>
#         -DPYTHON_DIR=<package folder>] -P ConsumerTest.cmake
set(source ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK}/prefix)

function(run)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                    ERROR_VARIABLE out)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${ARGN}\nfailed (${status}):\n${out}")
    endif()
    set(out "${out}" PARENT_SCOPE)
endfunction()

# Prints for the sample and a missing file what the console tool prints.
function(check_output what)
    execute_process(COMMAND ${ARGN} ${SAMPLE} missing.pdf RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
    execute_process(COMMAND ${TOOL} ${SAMPLE} missing.pdf OUTPUT_VARIABLE expected)
    if(NOT status EQUAL 0 OR NOT out STREQUAL expected)
        message(FATAL_ERROR "${what}: exit ${status}, printed\n${out}${err}\ninstead of\n"
                            "${expected}")
    endif()
endfunction()

file(REMOVE_RECURSE ${WORK})
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})

run(${CMAKE_COMMAND} -S ${source} -B ${WORK}/cmake-build -G Ninja -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${prefix} -DVELLUMTAG_VERSION=${VERSION})
run(${CMAKE_COMMAND} --build ${WORK}/cmake-build)
check_output("find_package consumer" ${WORK}/cmake-build/consumer)

run(${CMAKE_COMMAND} -E env PKG_CONFIG_PATH=${prefix}/${LIBDIR}/pkgconfig
    pkg-config --cflags --libs vellumtag)
separate_arguments(flags UNIX_COMMAND "${out}")
run(${CXX} -std=c++20 ${source}/consumer.cpp ${flags} -o ${WORK}/pkg-config-consumer)
check_output("pkg-config consumer" ${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${prefix}/${LIBDIR}
             ${WORK}/pkg-config-consumer)

# Of the project's own symbols only the interface's functions are exported.
run(nm -D --defined-only -C ${prefix}/${LIBDIR}/libvellumtag.so)
string(REGEX MATCHALL "[^\n]*vellumtag::[^\n]*" ours "${out}")
set(interface "std::filesystem::__cxx11::path const&|std::span<std::byte const, [0-9]+ul>")
list(FILTER ours EXCLUDE REGEX
     " T vellumtag::read\\((${interface})(, vellumtag::ReadOptions const&)?\\)$")
list(LENGTH ours extra)
string(REGEX MATCH " T vellumtag::read\\(" exported "${out}")
if(NOT exported OR extra GREATER 0)
    message(FATAL_ERROR "libvellumtag.so exports other symbols of the project:\n${out}")
endif()

if(PYTHON)
    set(script "import sys, vellumtag, vellumtag.index\nprint(vellumtag.__file__)\n"
               "print(vellumtag.read(sys.argv[1])['Title'])")
    string(CONCAT script ${script})
    run(${CMAKE_COMMAND} -E env PYTHONPATH=${prefix}/${PYTHON_DIR} ${PYTHON} -c "${script}"
        ${SAMPLE})
    if(NOT out STREQUAL "${prefix}/${PYTHON_DIR}/vellumtag/__init__.py\nHello, Vellumtag\n")
        message(FATAL_ERROR "the installed Python package printed\n${out}")
    endif()
endif()
