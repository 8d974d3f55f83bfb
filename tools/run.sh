#!/usr/bin/env bash
# Sets up the machine, builds everything, installs the modules where an
# installer would put them and starts the program under Wine. Without a
# display it runs on a virtual one, waits for the wizard's window, saves a
# screenshot of it and closes again; it fails when the window never shows.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VQ_BUILD_DIR:-$root/build}"
export VQ_WINEPREFIX="${VQ_WINEPREFIX:-$build/wineprefix}"
export WINEPREFIX="$VQ_WINEPREFIX" WINEARCH=win32
title="PylSoft Batch Converter v"

# Creates the prefix (on the display it will be used with) and installs the
# plug-ins into the common program files folder + "\PylSoft\Modules".
install_modules() {
    "$root/tools/wine-run.sh" wineboot >/dev/null 2>&1 || true
    local common="$VQ_WINEPREFIX/drive_c/Program Files/Common Files"
    mkdir -p "$common/PylSoft/Modules"
    cp -f "$build"/bin/modules/*.dll "$common/PylSoft/Modules/"
    echo "run: modules installed in $common/PylSoft/Modules"
}

# The id of a viewable top-level window whose name starts with $1, if any.
viewable_window() {
    local id
    for id in $(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1" 'index($0, t) { print $1 }'); do
        xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable' && { echo "$id"; return 0; }
    done
    return 1
}

if [ "${1:-}" != "--headless-run" ]; then
    bash "$root/tools/setup.sh"
    echo "run: building in $build"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"$(nproc)"
    # A Wine server left running for this prefix (by the tests or an earlier
    # start) keeps its desktop on the display it was started with: a new
    # program would join it and never reach the screen it is started on.
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if [ -n "${DISPLAY:-}" ]; then
        install_modules
        exec "$root/tools/wine-run.sh" "$build/bin/VqEncoder.exe"
    fi
    rc=0
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --headless-run || rc=$?
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    exit $rc
fi

# Headless: start, wait for the wizard, take a screenshot, close the program.
install_modules
shot="$build/screenshot.png"
rm -f "$shot"
export PYLPUM_TIMEOUT_MS="${PYLPUM_TIMEOUT_MS:-3000}"
"$root/tools/wine-run.sh" "$build/bin/VqEncoder.exe" &
pid=$!
limit="${VQ_RUN_WAIT:-60}"
rc=1
for ((waited = 0; waited < limit * 2; waited++)); do
    kill -0 "$pid" 2>/dev/null || { echo "run: the program ended before its window showed" >&2; break; }
    # The wizard is up once its window is viewable and the splash has gone.
    if wnd=$(viewable_window "$title") && ! viewable_window PylSplashWnd >/dev/null; then
        sleep 1  # let the pages finish painting
        xwd -root -silent | convert xwd:- "$shot"
        # A wizard page has text, buttons and frames: many colours inside its
        # window. A screen that never received it is one colour.
        geom=$(xwininfo -id "$wnd" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                                         /Width:/{w=$NF} /Height:/{h=$NF} END{print w "x" h "+" x "+" y}')
        colours=$(convert "$shot" -crop "$geom" +repage -format %k info:)
        if [ "${colours:-0}" -ge 16 ]; then
            echo "run: screenshot of the wizard saved to $shot"
            rc=0
        else
            echo "run: the wizard's window is up but shows only ${colours:-0} colours (see $shot)" >&2
        fi
        break
    fi
    sleep 0.5
done
[ "$rc" = 0 ] || [ -f "$shot" ] || echo "run: the wizard's window did not appear within $limit s" >&2
# Ask the program to close (WM_CLOSE to its windows), then make sure it has gone.
"$root/tools/wine-run.sh" taskkill /IM VqEncoder.exe >/dev/null 2>&1 || true
for _ in $(seq 1 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
kill -0 "$pid" 2>/dev/null && wineserver -k 2>/dev/null || true
wait "$pid" 2>/dev/null || true
exit $rc
