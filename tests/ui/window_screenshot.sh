#!/usr/bin/env bash
# Captures the real launcher window from the X screen it is shown on and checks its shape and
# face: a transparent corner of the skin shows the backdrop behind the window, the form panel shows
# its own colour. The screenshot is kept as launcher-window-screen.png in the output directory.
set -euo pipefail
source_dir=$1 build=$2 output=$3
source "$source_dir/scripts/lib/wine-prefix.sh"
source "$source_dir/scripts/lib/x11-driver.sh"
wine_session_display "$build"
mkdir -p "$output"

# A full-screen backdrop in a colour the skin does not use, so anything painted where the window
# should be open shows.
convert -size 1x1 xc:'#ff00ff' "$output/backdrop.png"
display -backdrop -background '#ff00ff' "$output/backdrop.png" &
backdrop_viewer=$!
launcher=
trap 'kill $launcher $backdrop_viewer 2>/dev/null || true; wait 2>/dev/null || true' EXIT
x11_wait_window 'ImageMagick: backdrop.png' 20 >/dev/null || {
    echo "the backdrop did not appear"
    exit 1
}

# Run from the prefix's C: drive, with the built-in configuration and no package server, so the
# window settles on the download failure.
run_dir="$build/wine/prefix/drive_c/gatehouse-screenshot"
rm -rf "$run_dir"
mkdir -p "$run_dir"
cp "$build/Gatehouse.exe" "$run_dir/"
before="$output/launcher-window-backdrop.png"
x11_capture "$before"
log="$(wine_prefix_local_app_data "$build")/K3Gatehouse/Logs/launcher.log"
log_mark=$(file_mark "$log")
"$build/wine-run" "$(prefix_windows_path "$build" "$run_dir/Gatehouse.exe")" &
launcher=$!

window=$(x11_wait_window '曜石纪元 · 启动器' 30) || {
    echo "the launcher window did not appear"
    exit 1
}
# The check and the failed download settle: the status line says so, and the screen stops changing.
download_failed() { has_new_line "$log" "$log_mark" ' window\.status '; }
wait_for 30 download_failed || echo "the launcher logged no failed download; capturing as it is"
shot="$output/launcher-window-screen.png"
x11_capture_settled "$shot"
read -r x y < <(x11_window_origin "$window")
echo "window $window at $x,$y; screenshot $shot"

failures=0
expect_pixel() { # name, x, y, expected colour
    local seen
    seen=$(x11_pixel "$shot" $((x + $2)) $((y + $3)))
    if [ "$seen" = "$4" ]; then
        echo "ok: $1 at ($2,$3) is $seen"
    else
        echo "FAIL: $1 at ($2,$3) is $seen, expected $4"
        failures=$((failures + 1))
    fi
}
backdrop=$(x11_pixel "$before" "$x" "$y")
[ "$backdrop" != 0,0,0 ] || {
    echo "the backdrop did not show"
    exit 1
}
expect_pixel "top-left corner outside the shape" 0 0 "$backdrop"
expect_pixel "bottom-right corner outside the shape" 1104 631 "$backdrop"
expect_pixel "form panel" 316 530 18,19,14
expect_pixel "account input frame" 342 300 72,64,44
exit $((failures > 0))
