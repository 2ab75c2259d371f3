# Shared by the scripts that build for Windows and run it under Wine; sourced,
# from the root of the clone.

# wine_prefix FOLDER: sets `wine` and `wineserver` to Debian's Wine and makes
# FOLDER the Wine prefix, prepared once. A fresh prefix has none of the faces
# the window asks for: Times New Roman for the headers, and Tahoma, which
# Wine's dialog face (MS Shell Dlg) and message face stand for. Without them
# text is measured in one face and drawn in another, and loses letters. The
# Liberation faces stand in: they have the metrics of Times New Roman, Arial
# and Courier New, and Liberation Sans is near enough to Tahoma.
wine_prefix() {
    # Debian's wine64 package installs the loader outside PATH.
    wine=$(command -v wine64 || true)
    [ -n "$wine" ] || wine=/usr/lib/wine/wine64
    [ -x "$wine" ] || { echo "wine64 not found" >&2; return 1; }
    wineserver=$(dirname "$wine")/wineserver
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "Preparing a Wine prefix in $WINEPREFIX (once, takes a while)"
        "$wine" wineboot --init >/dev/null 2>&1
        local face
        for face in "Times New Roman:Liberation Serif" "Arial:Liberation Sans" \
            "Courier New:Liberation Mono" "Tahoma:Liberation Sans"; do
            "$wine" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${face%%:*}" \
                /d "${face#*:}" /f >/dev/null 2>&1
        done
        # ClearType, as Windows has it by default: with Wine's own default,
        # standard smoothing, the toolkit's text loses narrow letters (I, !).
        "$wine" reg add 'HKCU\Control Panel\Desktop' /v FontSmoothingType /t REG_DWORD /d 2 \
            /f >/dev/null 2>&1
        "$wineserver" --wait 2>/dev/null || true
    fi
}

# windows_gtest FOLDER TOOLCHAIN: builds GoogleTest from Debian's sources with
# the toolchain into FOLDER once; sets `gtest_dir` to its CMake package.
windows_gtest() {
    gtest_dir=$1/install/lib/cmake/GTest
    [ -f "$gtest_dir/GTestConfig.cmake" ] && return 0
    cmake -S /usr/src/googletest -B "$1/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_INSTALL_PREFIX="$1/install" \
        -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
    cmake --build "$1/build"
    cmake --install "$1/build" >/dev/null
}
