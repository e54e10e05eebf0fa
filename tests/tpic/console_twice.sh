#!/bin/sh
# A console run that writes twice in one process on a display: the tpic plug-in is loaded,
# starts GTK, shows its size dialog, plots and is unloaded, and all of it once more. GTK and
# GLib do not survive being unloaded and loaded again (the second dialog crashed before the
# plug-in was kept resident). Run under xvfb-run.   console_twice.sh TPIC_HOST
set -eu
host=$(realpath "$1")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf 'written twice in one process\n' > data

# GTK would take the locale from the environment; the console's own stays "C".
LANG=C.UTF-8 "$host" encode data out 2 > results 2> errors &
pid=$!
# Enter in each size dialog as it comes up. No window manager gives the focus, so the dialog
# is given it before the key is sent.
waited=0
while kill -0 "$pid" 2>/dev/null; do
    for window in $(xdotool search --onlyvisible --name '^Qvtpic$' 2>/dev/null); do
        xdotool windowfocus "$window" key Return 2>/dev/null || true
    done
    waited=$((waited + 1))
    if [ "$waited" -gt 300 ]; then
        kill "$pid"
        echo "FAIL: the size dialogs did not end"
        exit 1
    fi
    sleep 0.2
done
status=0
wait "$pid" || status=$?
if [ "$status" -ne 0 ]; then
    echo "FAIL: the host ended with status $status"
    cat errors
    exit 1
fi

# Stored under the name "data": 4 header bytes, the name, its terminator and 29 bytes.
expected="38 out.tpic
38 out.tpic
locale C"
if [ "$(cat results)" != "$expected" ]; then
    echo "FAIL: results were:"
    cat results
    exit 1
fi
ending=$(head -n 1 out.tpic | tail -c 2 | od -An -tx1 | tr -d ' ')
if [ "$ending" != "0d0a" ]; then
    echo "FAIL: the first line ends in $ending, not CR LF"
    exit 1
fi
echo "two dialogs answered, two pictures written"
