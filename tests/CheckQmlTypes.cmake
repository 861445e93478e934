# Fails when the type information in the build tree is not what the built
# plugin reports now, or does not describe every type.
#   cmake -DQMLPLUGINDUMP=... -DIMPORT_DIR=... -DEXPECTED=... -DDUMP_SCRIPT=... -DTYPES=A;B [-DPRELOAD=...] -P CheckQmlTypes.cmake
# Without QMLPLUGINDUMP (Qt 6, where the build generates the file from the
# same declarations it registers) only the description is checked.
if(QMLPLUGINDUMP)
    set(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/plugins.qmltypes.check")
    include("${DUMP_SCRIPT}")
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${EXPECTED}" "${OUTPUT}" RESULT_VARIABLE different)
    if(different)
        message(FATAL_ERROR "${EXPECTED} is out of date: rebuild the target maporaextras_qmltypes")
    endif()
endif()
# Every type of the module must be described under its QML name.
file(READ "${EXPECTED}" content)
foreach(type ${TYPES})
    string(FIND "${content}" "\"Quil.MaporaExtras/${type} 1.1\"" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${EXPECTED} does not describe ${type}")
    endif()
endforeach()
string(FIND "${content}" "isSingleton: true" singleton)
if(singleton EQUAL -1)
    message(FATAL_ERROR "${EXPECTED} does not describe System as a singleton")
endif()
message(STATUS "plugins.qmltypes is current")
