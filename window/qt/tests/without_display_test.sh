#!/bin/sh
# The program started where no window system can be reached (over SSH without X forwarding, or with
# a display that is not there): one line of its own on standard error and status 1, no core dump.
# No X server listens on display 4711 (xvfb-run picks numbers from 99 up).
program=$1
failed=0
expect() { # the line it must say, then the variables it is started with
    line=$1
    shift
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" "$program" 2>&1 >/dev/null)
    status=$?
    if [ "$status" -ne 1 ] || [ "$said" != "$line" ]; then
        printf 'with %s: status %s, said:\n%s\n' "${1:-nothing set}" "$status" "$said"
        failed=1
    fi
}
expect "quindral: cannot open a display: neither DISPLAY nor WAYLAND_DISPLAY is set"
expect "quindral: cannot open display :4711" DISPLAY=:4711
exit $failed
