# Cross-compiles the whole product for Windows against the Qt for MinGW-w64 kit; tests run under
# Wine. The kit is the unpacked qt6-mingw folder named by SOLVIKVPN_QT_MINGW_KIT (a cache or an
# environment variable), by default build/qt6-mingw-kit/qt6-mingw, where scripts/test-windows-lane.sh
# unpacks it. The kit's own toolchain chain-loads its MinGW toolchain (posix threads, GCC 12).
if(NOT SOLVIKVPN_QT_MINGW_KIT)
    if(DEFINED ENV{SOLVIKVPN_QT_MINGW_KIT})
        set(SOLVIKVPN_QT_MINGW_KIT "$ENV{SOLVIKVPN_QT_MINGW_KIT}")
    else()
        get_filename_component(SOLVIKVPN_QT_MINGW_KIT
            "${CMAKE_CURRENT_LIST_DIR}/../build/qt6-mingw-kit/qt6-mingw" ABSOLUTE)
    endif()
endif()
set(kit_toolchain "${SOLVIKVPN_QT_MINGW_KIT}/lib/cmake/Qt6/qt.toolchain.cmake")
if(NOT EXISTS "${kit_toolchain}")
    message(FATAL_ERROR "No Qt for MinGW-w64 kit at ${SOLVIKVPN_QT_MINGW_KIT}: set "
        "SOLVIKVPN_QT_MINGW_KIT to the unpacked qt6-mingw folder (see README.md).")
endif()
# try_compile re-reads this file in a fresh project: it must find the same kit there.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SOLVIKVPN_QT_MINGW_KIT)
# The kit uses the host's Qt tools (moc, rcc, uic) of the same version.
if(NOT QT_HOST_PATH)
    set(QT_HOST_PATH /usr)
endif()
include("${kit_toolchain}")

find_program(WINE_PROGRAM NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${WINE_PROGRAM})
