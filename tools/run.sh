#!/usr/bin/env bash
# Sets up the machine, builds everything, installs the modules where an
# installer would put them and starts the program under Wine. Without a
# display it runs on a virtual one, saves a screenshot and closes again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="${VQ_BUILD_DIR:-$root/build}"
export VQ_WINEPREFIX="${VQ_WINEPREFIX:-$build/wineprefix}"

if [ "${1:-}" != "--headless-run" ]; then
    bash "$root/tools/setup.sh"
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$build" -j"$(nproc)"

    # Create the prefix, then install the plug-ins into the common program
    # files folder + "\PylSoft\Modules".
    "$root/tools/wine-run.sh" wineboot >/dev/null 2>&1 || true
    common="$VQ_WINEPREFIX/drive_c/Program Files/Common Files"
    mkdir -p "$common/PylSoft/Modules"
    cp -f "$build"/bin/modules/*.dll "$common/PylSoft/Modules/"
    echo "run: modules installed in $common/PylSoft/Modules"

    if [ -n "${DISPLAY:-}" ]; then
        exec "$root/tools/wine-run.sh" "$build/bin/VqEncoder.exe"
    fi
    exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --headless-run
fi

# Headless: start, wait, take a screenshot, close the program.
shot="$build/screenshot.png"
export PYLPUM_TIMEOUT_MS="${PYLPUM_TIMEOUT_MS:-3000}"
"$root/tools/wine-run.sh" "$build/bin/VqEncoder.exe" &
pid=$!
sleep "${VQ_RUN_WAIT:-12}"
if xwd -root -silent > "$build/screenshot.xwd" 2>/dev/null; then
    convert "xwd:$build/screenshot.xwd" "$shot" && echo "run: screenshot saved to $shot"
    rm -f "$build/screenshot.xwd"
fi
# Ask the program to close (WM_CLOSE to its windows), then make sure it has gone.
"$root/tools/wine-run.sh" taskkill /IM VqEncoder.exe >/dev/null 2>&1 || true
for _ in $(seq 1 20); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.5
done
if kill -0 "$pid" 2>/dev/null; then
    WINEPREFIX="$VQ_WINEPREFIX" wineserver -k 2>/dev/null || true
fi
wait "$pid" 2>/dev/null || true
