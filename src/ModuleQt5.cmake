# The module on Qt 5: one library that is both the QML plugin and what
# native hosts link; the plugin class registers the types by hand and
# qmlplugindump writes the type information from the built plugin.
target_sources(maporaextras_objects PRIVATE MaporaExtrasPlugin.cpp MaporaExtrasPlugin.h)
set_target_properties(maporaextras_objects PROPERTIES AUTOMOC_MOC_OPTIONS "-Muri=${MAPORA_QML_URI}")

add_library(quilmaporaextrasplugin SHARED $<TARGET_OBJECTS:maporaextras_objects>)
add_library(Quil::MaporaExtras ALIAS quilmaporaextrasplugin)
# Hosts that link the library see Qt Core and Gui through the Extras
# headers; libzip, ISA-L, zlib and the QML side stay private.
target_link_libraries(quilmaporaextrasplugin
    PUBLIC Qt5::Core Qt5::Gui
    PRIVATE Qt::Qml Qt::Quick PkgConfig::LIBZIP PkgConfig::ISAL PkgConfig::LIBDEFLATE ZLIB::ZLIB)
target_include_directories(quilmaporaextrasplugin PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/common/qt_common/Utility>
    $<INSTALL_INTERFACE:${MAPORA_INCLUDE_DIR}>)
set_target_properties(quilmaporaextrasplugin PROPERTIES
    EXPORT_NAME MaporaExtras
    LIBRARY_OUTPUT_DIRECTORY "${MAPORA_QML_DIR}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

configure_file(qmldir "${MAPORA_QML_DIR}/qmldir" COPYONLY)

# Type information for Qt Creator and qmllint, dumped from the built plugin.
set(MAPORA_QMLTYPES "${MAPORA_QML_DIR}/plugins.qmltypes")
add_custom_command(OUTPUT "${MAPORA_QMLTYPES}"
    COMMAND ${CMAKE_COMMAND} -DQMLPLUGINDUMP=${MAPORA_QMLPLUGINDUMP} -DIMPORT_DIR=${CMAKE_BINARY_DIR}/qml
            -DOUTPUT=${MAPORA_QMLTYPES} -DPRELOAD=${MAPORA_DUMP_PRELOAD}
            -P ${PROJECT_SOURCE_DIR}/cmake/DumpQmlTypes.cmake
    DEPENDS quilmaporaextrasplugin "${MAPORA_QML_DIR}/qmldir" ${PROJECT_SOURCE_DIR}/cmake/DumpQmlTypes.cmake
    COMMENT "Dumping the QML type information of Quil.MaporaExtras"
    VERBATIM)
add_custom_target(maporaextras_qmltypes ALL DEPENDS "${MAPORA_QMLTYPES}")

# The module goes into the QML import folder as a whole, library included.
install(TARGETS quilmaporaextrasplugin EXPORT QuilMaporaExtrasTargets
        LIBRARY DESTINATION "${MAPORA_INSTALL_QML_DIR}/Quil/MaporaExtras")
install(FILES qmldir "${MAPORA_QMLTYPES}" DESTINATION "${MAPORA_INSTALL_QML_DIR}/Quil/MaporaExtras")
