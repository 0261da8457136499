# Installs the build into a fresh prefix, builds a C program against it with
# find_package and with pkg-config, and compares its rows with the analyser's log.
# Needs BUILD_DIR, SOURCE_DIR, WORK_DIR, SAMPLE (makeSampleClip), ANALYSER (lumaqc);
# LIBAV when the libav module is built.
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}")
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY "${WORK_DIR}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed (${status}):\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix")
run(${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/user" -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix)
run(${CMAKE_COMMAND} --build "${WORK_DIR}/user")
run("${SAMPLE}" clip.yuv)
run("${ANALYSER}" clip.yuv 352 288 25 12)
file(STRINGS "${WORK_DIR}/metricsResultsCSV.csv" logRows)
list(REMOVE_AT logRows 0)

# The installed program finds the libav module below its library directory: a
# file without sizes reaches the decoder, which finds no container in it (a
# raw-looking name then asks for the sizes).
if(LIBAV)
  execute_process(COMMAND "${WORK_DIR}/prefix/bin/lumaqc" clip.yuv WORKING_DIRECTORY "${WORK_DIR}"
                  RESULT_VARIABLE status OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT status EQUAL 255 OR NOT err MATCHES "^clip.yuv: raw input needs WIDTH HEIGHT")
    message(FATAL_ERROR "the installed lumaqc did not decode through its libav module (${status}): ${err}")
  endif()
endif()

file(GLOB libdirs "${WORK_DIR}/prefix/lib*")
list(GET libdirs 0 libdir)
if(EXISTS "${libdir}/${CMAKE_LIBRARY_ARCHITECTURE}/pkgconfig")
  set(libdir "${libdir}/${CMAKE_LIBRARY_ARCHITECTURE}")
endif()
set(ENV{LD_LIBRARY_PATH} "${libdir}")
run("${WORK_DIR}/user/firstFrames" clip.yuv 352 288 12)
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" programRows "${out}")
if(NOT programRows STREQUAL logRows)
  message(FATAL_ERROR "find_package program rows differ from the log:\n${out}")
endif()

# The same program built with what pkg-config says.
set(ENV{PKG_CONFIG_PATH} "${libdir}/pkgconfig")
run(pkg-config --cflags --libs lumaqc)
separate_arguments(flags UNIX_COMMAND "${out}")
run(cc "${SOURCE_DIR}/firstFrames.c" ${flags} -o firstFramesPkg)
run("${WORK_DIR}/firstFramesPkg" clip.yuv 352 288 12)
string(REGEX REPLACE "\n$" "" out "${out}")
string(REPLACE "\n" ";" pkgRows "${out}")
if(NOT pkgRows STREQUAL logRows)
  message(FATAL_ERROR "pkg-config program rows differ from the log:\n${out}")
endif()
