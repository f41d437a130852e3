#!/usr/bin/env bash
# The window, on a virtual X display, carries the WM_CLASS that its desktop
# entry's StartupWMClass names, so that the desktop ties the window to the entry.
# Usage: window-class.sh ORVELLE DESKTOP-ENTRY
set -uo pipefail
program=$1
entry=$2
for tool in xvfb-run xprop xwininfo; do
    if ! command -v $tool >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/install-deps --packaging)"
        exit 77
    fi
done
want=$(sed -n 's/^StartupWMClass=//p' "$entry")
[ -n "$want" ] || { echo "FAIL: $entry has no StartupWMClass"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# Inside the display: start the window, wait for it, print its WM_CLASS.
cat >"$scratch/inside.sh" <<'INSIDE'
"$1" & pid=$!
for _ in $(seq 200); do
    for w in $(xwininfo -root -children 2>/dev/null | grep -oE '^ +0x[0-9a-f]+'); do
        class=$(xprop -id "$w" WM_CLASS 2>/dev/null | sed -n 's/^WM_CLASS(STRING) = //p')
        if [ -n "$class" ]; then
            echo "$class"
            kill "$pid"
            exit 0
        fi
    done
    sleep 0.1
done
kill "$pid"
exit 1
INSIDE
got=$(TEMP=$scratch TMPDIR=$scratch QT_QPA_PLATFORM=xcb \
    xvfb-run --auto-servernum bash "$scratch/inside.sh" "$program")
echo "WM_CLASS: $got; StartupWMClass: $want"
# WM_CLASS is "instance", "class"; the desktop matches StartupWMClass to either.
case "$got" in
    *"\"$want\""*) echo "the window's class is the entry's StartupWMClass" ;;
    *) echo "FAIL: no window with WM_CLASS $want"; exit 1 ;;
esac
