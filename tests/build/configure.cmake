# Configures scratch builds (configure only, nothing is compiled) and checks
# what each says: the HTML report left out with one notice when its npm
# packages are missing and LUMAQC_HTML is AUTO, a failure when it is ON, the
# library alone without nlohmann's JSON library, and the interpreter the
# Python module is built for (Debian's, or Python3_EXECUTABLE).
# Needs SOURCE_DIR, WORK_DIR, GENERATOR, PYTHON (an interpreter other than /usr/bin/python3's name).
cmake_policy(SET CMP0007 NEW)  # the options of a case may be empty
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${WORK_DIR}/no-modules")
set(html "-- HTML report \\(--html\\)")
# name # options (comma-separated) # exit status # what the output must match # what it must not match
set(cases
  "auto-missing#-DLUMAQC_HTML=AUTO,-DLUMAQC_REPORT_MODULES=${WORK_DIR}/no-modules#0#${html}: left out, the charting library is not installed in ${WORK_DIR}/no-modules \\(run scripts/install-deps.sh, then configure again\\)\n#${html}: (available|not available)"
  "auto-present#-DLUMAQC_HTML=AUTO#0#${html}: available\n#left out"
  "on-missing#-DLUMAQC_HTML=ON,-DLUMAQC_REPORT_MODULES=${WORK_DIR}/no-modules#1#HTML report: the charting library is not installed in ${WORK_DIR}/no-modules#${html}: left out"
  "off#-DLUMAQC_HTML=OFF,-DLUMAQC_REPORT_MODULES=${WORK_DIR}/no-modules#0#${html}: not available \\(LUMAQC_HTML=OFF\\)\n#left out"
  "no-json#-DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON,-DLUMAQC_TESTS=ON#0#-- nlohmann's JSON library not found \\(Debian's nlohmann-json3-dev\\): the lumaqc programs and the tests are left out\n#-- Python module \\(lumaqc\\): not built"
  "debian-python##0#-- Python module \\(lumaqc\\): built for /usr/bin/python3\n#nlohmann's JSON library not found"
  "other-python#-DPython3_EXECUTABLE=${PYTHON}#0#-- Python module \\(lumaqc\\): built for ${PYTHON}\n#/usr/bin/python3\n")
foreach(case IN LISTS cases)
  string(REPLACE "#" ";" fields "${case}")
  list(GET fields 0 name)
  list(GET fields 1 options)
  list(GET fields 2 expectedStatus)
  list(GET fields 3 wanted)
  list(GET fields 4 unwanted)
  string(REPLACE "," ";" options "${options}")
  execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/${name}" -G "${GENERATOR}"
                          -DLUMAQC_TESTS=OFF ${options}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  set(all "${out}${err}")
  string(REGEX REPLACE "[ \n]+" " " flat "${all}")  # messages wrapped by CMake read as one line
  if(NOT status EQUAL expectedStatus AND NOT (expectedStatus EQUAL 1 AND NOT status EQUAL 0))
    message(SEND_ERROR "${name}: configure ended with ${status}, not ${expectedStatus}:\n${all}")
  elseif(NOT all MATCHES "${wanted}" AND NOT flat MATCHES "${wanted}")
    message(SEND_ERROR "${name}: the output lacks '${wanted}':\n${all}")
  elseif(all MATCHES "${unwanted}")
    message(SEND_ERROR "${name}: the output has '${unwanted}':\n${all}")
  endif()
  file(REMOVE_RECURSE "${WORK_DIR}/${name}")
endforeach()
