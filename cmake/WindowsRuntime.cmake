# Windows builds with MinGW-w64: the programs and tests in bin/ run as they ship, with the Qt
# libraries, the plugins they load (Qt looks for plugin folders beside the program) and the MinGW
# runtime copied beside them by the target solvikvpn_windows_runtime, part of every build. The
# same files, less what only tests load, go into the package through the install component
# "solvikvpn".

# The MinGW runtime every program and test loads.
set(solvikvpn_mingw_runtime)
foreach(library IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
        OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
        message(FATAL_ERROR "The compiler does not know where ${library} is.")
    endif()
    list(APPEND solvikvpn_mingw_runtime ${path})
endforeach()

function(solvikvpn_windows_runtime)
    # Qt Test is loaded by the test suites only.
    set(shipped_libraries Core Gui Widgets Network Svg)
    set(qt_libraries ${shipped_libraries} Test)
    # folder:target pairs; the offscreen platform serves the tests' and smoke runs' windows.
    set(shipped_plugins
        platforms:QWindowsIntegrationPlugin
        imageformats:QSvgPlugin
        imageformats:QICOPlugin
        iconengines:QSvgIconPlugin
        styles:QWindowsVistaStylePlugin
        tls:QSchannelBackendPlugin
        tls:QTlsBackendCertOnlyPlugin)
    set(qt_plugins ${shipped_plugins} platforms:QOffscreenIntegrationPlugin)

    set(runtime_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    set(runtime_files)
    set(copy_commands)
    foreach(library IN LISTS qt_libraries)
        list(APPEND runtime_files $<TARGET_FILE:Qt6::${library}>)
        list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
            $<TARGET_FILE:Qt6::${library}> ${runtime_directory})
        if(library IN_LIST shipped_libraries)
            install(FILES $<TARGET_FILE:Qt6::${library}> DESTINATION . COMPONENT solvikvpn)
        endif()
    endforeach()
    foreach(entry IN LISTS qt_plugins)
        string(REPLACE ":" ";" plugin ${entry})
        list(GET plugin 0 folder)
        list(GET plugin 1 target)
        if(NOT TARGET Qt6::${target})
            message(FATAL_ERROR "The Qt plugin ${target} is missing from this Qt.")
        endif()
        list(APPEND runtime_files $<TARGET_FILE:Qt6::${target}>)
        list(APPEND copy_commands
            COMMAND ${CMAKE_COMMAND} -E make_directory ${runtime_directory}/${folder}
            COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:Qt6::${target}>
                ${runtime_directory}/${folder})
        if(entry IN_LIST shipped_plugins)
            install(FILES $<TARGET_FILE:Qt6::${target}> DESTINATION ${folder}
                COMPONENT solvikvpn)
        endif()
    endforeach()
    foreach(path IN LISTS solvikvpn_mingw_runtime)
        list(APPEND runtime_files ${path})
        list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${path}
            ${runtime_directory})
    endforeach()
    install(FILES ${solvikvpn_mingw_runtime} DESTINATION . COMPONENT solvikvpn)

    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/windows-runtime.stamp)
    add_custom_command(OUTPUT ${stamp}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${runtime_directory}
        ${copy_commands}
        COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
        DEPENDS ${runtime_files}
        COMMENT "Copying the Qt and MinGW runtime beside the programs"
        VERBATIM)
    add_custom_target(solvikvpn_windows_runtime ALL DEPENDS ${stamp})
endfunction()
solvikvpn_windows_runtime()

# A program of the package: its version block, icon and manifest, and its place in the component.
function(solvikvpn_windows_program target description)
    set(SOLVIKVPN_RC_FILE_NAME ${target}.exe)
    set(SOLVIKVPN_RC_DESCRIPTION ${description})
    set(SOLVIKVPN_RC_ICON ${PROJECT_SOURCE_DIR}/resources/app/solvikvpn.ico)
    set(SOLVIKVPN_RC_MANIFEST ${PROJECT_SOURCE_DIR}/resources/windows/solvikvpn.manifest)
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
    configure_file(${PROJECT_SOURCE_DIR}/resources/windows/program.rc.in ${script} @ONLY)
    set_source_files_properties(${script} PROPERTIES
        OBJECT_DEPENDS "${SOLVIKVPN_RC_ICON};${SOLVIKVPN_RC_MANIFEST}")
    target_sources(${target} PRIVATE ${script})
    install(TARGETS ${target} RUNTIME DESTINATION . COMPONENT solvikvpn)
endfunction()
