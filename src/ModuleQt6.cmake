# The module on Qt 6. The types register themselves through their
# declarations (QML_ELEMENT and the like in the headers): qt_add_qml_module
# generates the registration, qmldir and plugins.qmltypes while building.
# The backing library holds the code and is what native hosts link; the
# plugin in the module folder is the plugin class alone and loads it.
set(MAPORA_LIBRARY QuilMaporaExtrasQt6)

# The code is compiled once, in the object library: the generated
# registration reads the type declarations from its moc output.
qt6_extract_metatypes(maporaextras_objects OUTPUT_FILES maporaextras_metatypes)

add_library(${MAPORA_LIBRARY} SHARED $<TARGET_OBJECTS:maporaextras_objects>)
add_library(Quil::MaporaExtras ALIAS ${MAPORA_LIBRARY})
target_link_libraries(${MAPORA_LIBRARY}
    PUBLIC Qt6::Core Qt6::Gui
    PRIVATE Qt::Qml Qt::Quick Qt::Core5Compat PkgConfig::LIBZIP PkgConfig::ISAL PkgConfig::LIBDEFLATE ZLIB::ZLIB)
# The generated registration includes the headers of the types.
target_include_directories(${MAPORA_LIBRARY}
    PUBLIC
        $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/common/qt_common/Utility>
        $<INSTALL_INTERFACE:${MAPORA_INCLUDE_DIR}>
    PRIVATE
        $<TARGET_PROPERTY:maporaextras_objects,INTERFACE_INCLUDE_DIRECTORIES>)
set_target_properties(${MAPORA_LIBRARY} PROPERTIES
    EXPORT_NAME MaporaExtras
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    # Set before qt_add_qml_module, which then takes the object library's
    # type descriptions instead of extracting (empty) ones of its own.
    INTERFACE_QT_META_TYPES_BUILD_FILE "${maporaextras_metatypes}")

# The plugin is not optional: its initializeEngine() switches the logging on
# for the first engine, also in a host that links the backing library.
qt_add_qml_module(${MAPORA_LIBRARY}
    URI ${MAPORA_QML_URI}
    VERSION 1.1
    PLUGIN_TARGET quilmaporaextrasplugin
    CLASS_NAME MaporaExtrasPlugin
    NO_GENERATE_PLUGIN_SOURCE
    NO_PLUGIN_OPTIONAL
    TYPEINFO plugins.qmltypes
    OUTPUT_DIRECTORY "${MAPORA_QML_DIR}"
    NO_LINT)
target_sources(quilmaporaextrasplugin PRIVATE MaporaExtrasPlugin.cpp MaporaExtrasPlugin.h)
target_link_libraries(quilmaporaextrasplugin PRIVATE ${MAPORA_LIBRARY} Qt::Qml)
target_compile_options(quilmaporaextrasplugin PRIVATE -Wall -Wextra)
target_compile_options(${MAPORA_LIBRARY} PRIVATE -Wall -Wextra)

# Installed, the plugin finds the backing library relative to itself, also
# below a prefix that is not the system's.
set(module_install_dir "${MAPORA_INSTALL_QML_DIR}/Quil/MaporaExtras")
file(RELATIVE_PATH plugin_to_library "/root/${module_install_dir}" "/root/${CMAKE_INSTALL_LIBDIR}")
set_target_properties(quilmaporaextrasplugin PROPERTIES
    INSTALL_RPATH "$ORIGIN/${plugin_to_library}"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)

install(TARGETS ${MAPORA_LIBRARY} EXPORT QuilMaporaExtrasTargets
        LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(TARGETS quilmaporaextrasplugin LIBRARY DESTINATION "${module_install_dir}")
install(FILES "${MAPORA_QML_DIR}/qmldir" "${MAPORA_QML_DIR}/plugins.qmltypes" DESTINATION "${module_install_dir}")
