# A private X desktop for programs that need one: Xvfb, 1024 x 768, on a
# display it picks itself, with trayer as the system tray in the bottom-right
# corner (160 x 32 pixels at 864,736). Sourced by the scripts that run the
# desktop program without a desktop.
#   kivo_start_desktop DIR
# starts both (logs in DIR), exports DISPLAY and sets KIVO_XVFB_PID and
# KIVO_TRAY_PID, which the caller stops (also when it fails half-way).
KIVO_XVFB_PID= KIVO_TRAY_PID=
kivo_start_desktop() {
    local dir=$1
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
    KIVO_XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$dir/display" ] && break
        kill -0 "$KIVO_XVFB_PID" 2>/dev/null || { cat "$dir/xvfb.log" >&2; return 1; }
        sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb reported no display" >&2; return 1; }
    export DISPLAY=":$(head -n1 "$dir/display")"
    trayer --edge bottom --align right --widthtype pixel --width 160 --heighttype pixel --height 32 \
        --transparent false >"$dir/trayer.log" 2>&1 &
    KIVO_TRAY_PID=$!
}
