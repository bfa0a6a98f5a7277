# cmake -P script run by CTest with the HK_* variables of CMakeLists.txt beside it.
cmake_minimum_required(VERSION 3.25)

# Earlier runs are gone; this run's folder is left behind only on failure.
file(REMOVE_RECURSE "${HK_WORK_DIR}")
string(RANDOM LENGTH 8 ALPHABET 0123456789abcdef tag)
set(run "${HK_WORK_DIR}/run-${tag}")
set(prefix "${run}/prefix")
set(consumer_build "${run}/consumer")
file(MAKE_DIRECTORY "${run}")

# step(NAME cmd...): runs cmd; on failure stops with its output. Output goes
# through files, not pipes: Wine's service processes, started by the first
# program of a fresh wine server, inherit the handles and would hold a pipe
# open long after the program itself has ended.
function(step name)
    string(MAKE_C_IDENTIFIER "${name}" id)
    set(out_file "${run}/${id}.out")
    set(err_file "${run}/${id}.err")
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_FILE "${out_file}" ERROR_FILE "${err_file}"
                    TIMEOUT 300)
    file(READ "${out_file}" out)
    file(READ "${err_file}" err)
    if(NOT rc STREQUAL "0")
        message(FATAL_ERROR "package test: ${name} failed (${rc})\n"
                            "command: ${ARGN}\n--- stdout ---\n${out}\n--- stderr ---\n${err}\n"
                            "(files kept in ${run})")
    endif()
    set(step_output "${out}" PARENT_SCOPE)
endfunction()

# expect_files(DIR PATTERNS...): every file under DIR matches one of the
# regular expressions (relative paths), and each expression matches a file.
function(expect_files dir)
    file(GLOB_RECURSE files RELATIVE "${dir}" "${dir}/*")
    set(unmatched ${ARGN})
    foreach(f ${files})
        set(known FALSE)
        foreach(pattern ${ARGN})
            if(f MATCHES "^${pattern}$")
                set(known TRUE)
                list(REMOVE_ITEM unmatched "${pattern}")
            endif()
        endforeach()
        if(NOT known)
            message(FATAL_ERROR "package test: ${dir} holds ${f}, which does not belong there")
        endif()
    endforeach()
    if(unmatched)
        message(FATAL_ERROR "package test: ${dir} lacks ${unmatched}\n(it holds: ${files})")
    endif()
endfunction()

# Without a component only the library is installed.
step("install" ${CMAKE_COMMAND} --install "${HK_BUILD_DIR}" --prefix "${prefix}")
expect_files("${prefix}" "bin/Hearthkit\\.dll" "lib/libHearthkit\\.dll\\.a" "include/hearthkit/Hearthkit\\.h"
    "include/hearthkit/[A-Za-z0-9]+\\.h" "lib/cmake/Hearthkit/HearthkitConfig\\.cmake"
    "lib/cmake/Hearthkit/HearthkitConfigVersion\\.cmake" "lib/cmake/Hearthkit/HearthkitTargets\\.cmake"
    "lib/cmake/Hearthkit/HearthkitTargets-[a-z]+\\.cmake")
# The tool, and the stand-ins with what the tool's demo loads beside it.
step("install tools" ${CMAKE_COMMAND} --install "${HK_BUILD_DIR}" --prefix "${run}/tools" --component tools)
expect_files("${run}/tools" "bin/hkdiag\\.exe")
step("install standins" ${CMAKE_COMMAND} --install "${HK_BUILD_DIR}" --prefix "${run}/standins"
     --component standins)
expect_files("${run}/standins" "bin/MapiStandin\\.dll" "lib/libMapiStandin\\.dll\\.a"
    "include/mapistandin/MapiStandinControl\\.h" "bin/prepare-wineprefix\\.sh" "bin/WdsHandlerStandin\\.dll"
    "bin/skyrend/skyrend\\.dll" "bin/webserver\\.py")

set(configure_args -S "${HK_SOURCE_DIR}/tests/package/consumer" -B "${consumer_build}" -G "${HK_GENERATOR}"
    "-DCMAKE_TOOLCHAIN_FILE=${HK_SOURCE_DIR}/cmake/mingw-w64-x86_64.cmake"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_MAKE_PROGRAM=${HK_MAKE_PROGRAM}" -DCMAKE_BUILD_TYPE=Release)
step("configure the consumer" ${CMAKE_COMMAND} ${configure_args})
step("build the consumer" ${CMAKE_COMMAND} --build "${consumer_build}")

set(exe "${consumer_build}/consumer.exe")
# The program takes the library from the DLL, not from a static copy.
if(HK_OBJDUMP)
    step("dump the consumer's imports" "${HK_OBJDUMP}" -p "${exe}")
    if(NOT step_output MATCHES "DLL Name: Hearthkit.dll")
        message(FATAL_ERROR "package test: consumer.exe does not import Hearthkit.dll\n${step_output}")
    endif()
    if(step_output MATCHES "DLL Name: (libstdc|libgcc|libwinpthread)")
        message(FATAL_ERROR "package test: consumer.exe needs a compiler runtime DLL\n${step_output}")
    endif()
endif()

# The consumer's exit code says whether every check passed.
step("run the consumer under Wine" ${CMAKE_COMMAND} -E env "HK_BUILD_DIR=${HK_BUILD_DIR}"
     "${HK_SOURCE_DIR}/cmake/wine-run.sh" "${exe}")
message(STATUS "${step_output}")
file(REMOVE_RECURSE "${HK_WORK_DIR}")
