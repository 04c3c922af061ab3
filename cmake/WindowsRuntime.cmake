# Windows builds with MinGW-w64: the programs and tests in bin/ run as they ship, with the Qt
# libraries, the plugins they load (Qt looks for plugin folders beside the program) and the MinGW
# runtime copied beside them by the target solvikvpn_windows_runtime, part of every build.
function(solvikvpn_windows_runtime)
    set(qt_libraries Core Gui Widgets Network Svg Test)
    # folder:target pairs
    set(qt_plugins
        platforms:QWindowsIntegrationPlugin
        platforms:QOffscreenIntegrationPlugin
        imageformats:QSvgPlugin
        imageformats:QICOPlugin
        iconengines:QSvgIconPlugin
        styles:QWindowsVistaStylePlugin
        tls:QSchannelBackendPlugin
        tls:QTlsBackendCertOnlyPlugin)
    set(mingw_runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)

    set(runtime_directory ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
    set(runtime_files)
    set(copy_commands)
    foreach(library IN LISTS qt_libraries)
        list(APPEND runtime_files $<TARGET_FILE:Qt6::${library}>)
        list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different
            $<TARGET_FILE:Qt6::${library}> ${runtime_directory})
    endforeach()
    foreach(plugin IN LISTS qt_plugins)
        string(REPLACE ":" ";" plugin ${plugin})
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
    endforeach()
    foreach(library IN LISTS mingw_runtime)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${library}
            OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
        if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
            message(FATAL_ERROR "The compiler does not know where ${library} is.")
        endif()
        list(APPEND runtime_files ${path})
        list(APPEND copy_commands COMMAND ${CMAKE_COMMAND} -E copy_if_different ${path}
            ${runtime_directory})
    endforeach()

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
