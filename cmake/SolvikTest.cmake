# solvikvpn_add_qtest(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>]
#                     [LINUX_ONLY <reason>])
# One QtTest executable per suite, registered with CTest under the offscreen platform (label
# "qtest"). Cross-compiled for Windows, the suite runs under Wine through cmake/wine-qtest.sh; a
# suite marked LINUX_ONLY is not built there and its test only prints the reason and is skipped
# (label "linux-only").
set(SOLVIKVPN_WINE_FONT_DIR /usr/share/fonts/truetype/dejavu CACHE PATH
    "Fonts for the offscreen platform of the QtTest suites under Wine")

function(solvikvpn_add_qtest name)
    cmake_parse_arguments(ARG "" "LINUX_ONLY" "SOURCES;LIBS;ENV" ${ARGN})
    if(WIN32 AND ARG_LINUX_ONLY)
        add_test(NAME ${name} COMMAND sh -c "echo \"$1\"; exit 77" sh
            "${name} needs Linux: ${ARG_LINUX_ONLY}")
        set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 LABELS linux-only)
        return()
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test solvikvpn_options ${ARG_LIBS})
    set(platform QT_QPA_PLATFORM=offscreen)
    if(WIN32 AND CMAKE_CROSSCOMPILING)
        add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/cmake/wine-qtest.sh ${WINE_PROGRAM}
            $<TARGET_FILE:${name}>)
        # Qt's offscreen platform on Windows reads fonts from one folder only; Linux's runs get
        # the system's through fontconfig, DejaVu among them.
        list(APPEND platform QT_QPA_FONTDIR=Z:${SOLVIKVPN_WINE_FONT_DIR})
    else()
        add_test(NAME ${name} COMMAND ${name})
    endif()
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "${platform};${ARG_ENV}"
        LABELS qtest
        TIMEOUT 300)
endfunction()
