# solvikvpn_add_qtest(<name> SOURCES <files...> LIBS <targets...> [ENV <VAR=value...>])
# One QtTest executable per suite, registered with CTest under the offscreen platform.
function(solvikvpn_add_qtest name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;ENV" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test solvikvpn_options ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${ARG_ENV}"
        TIMEOUT 300)
endfunction()
