# One interface target that every target of the project links: warnings, strict Qt defines and
# the Windows defines live here and nowhere else.
find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
    set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

add_library(solvikvpn_options INTERFACE)
if(MSVC)
    target_compile_options(solvikvpn_options INTERFACE /W4 /permissive- /Zc:__cplusplus /utf-8)
    if(SOLVIKVPN_WERROR)
        target_compile_options(solvikvpn_options INTERFACE /WX)
    endif()
else()
    target_compile_options(solvikvpn_options INTERFACE -Wall -Wextra)
    if(SOLVIKVPN_WERROR)
        target_compile_options(solvikvpn_options INTERFACE -Werror)
    endif()
endif()
target_compile_definitions(solvikvpn_options INTERFACE
    SOLVIKVPN_VERSION="${PROJECT_VERSION}"
    QT_NO_CAST_FROM_ASCII
    QT_NO_CONTEXTLESS_CONNECT
    QT_NO_FOREACH)
if(SOLVIKVPN_TEST_SWITCHES)
    target_compile_definitions(solvikvpn_options INTERFACE SOLVIKVPN_TEST_SWITCHES=1)
endif()
if(WIN32)
    target_compile_definitions(solvikvpn_options INTERFACE
        WIN32_LEAN_AND_MEAN NOMINMAX UNICODE _UNICODE _WIN32_WINNT=0x0A00)
endif()

set(SOLVIKVPN_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
if(SOLVIKVPN_SANITIZE)
    add_compile_options(-fsanitize=${SOLVIKVPN_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    add_link_options(-fsanitize=${SOLVIKVPN_SANITIZE})
endif()
