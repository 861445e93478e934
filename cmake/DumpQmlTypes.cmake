# Writes the type information of the module with qmlplugindump.
#   cmake -DQMLPLUGINDUMP=... -DIMPORT_DIR=... -DOUTPUT=... [-DPRELOAD=...] -P DumpQmlTypes.cmake
set(ENV{QT_QPA_PLATFORM} offscreen)
if(PRELOAD)
    # An instrumented plugin loaded by an uninstrumented tool needs the
    # sanitizer runtimes first in the process.
    set(ENV{LD_PRELOAD} "${PRELOAD}")
    set(ENV{ASAN_OPTIONS} "detect_leaks=0")
endif()
execute_process(
    COMMAND "${QMLPLUGINDUMP}" -nonrelocatable Quil.MaporaExtras 1.1 "${IMPORT_DIR}"
    OUTPUT_FILE "${OUTPUT}.new"
    ERROR_VARIABLE errors
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "qmlplugindump failed (${result}):\n${errors}")
endif()
# The tool names its own command line in the file; keep only the type data
# so the file does not depend on where the build tree lies.
file(READ "${OUTPUT}.new" content)
string(REGEX REPLACE "// 'qmlplugindump[^\n]*\n" "// 'qmlplugindump -nonrelocatable Quil.MaporaExtras 1.1'\n" content "${content}")
file(WRITE "${OUTPUT}" "${content}")
file(REMOVE "${OUTPUT}.new")
