#!/usr/bin/env bash
# tarvik-flash.exe end to end under Wine, on this Linux machine:
#   a. a download through COM3, Wine's serial layer and a pseudo-terminal, into the Linux
#      simulated loader (tarvik-serial-loader), which checks every byte and keeps the image;
#   b. a loader that goes silent after the clear command: the failure boxes, exit 1;
#   c. the version command at 9600 baud and the loader's reply;
#   d. --port usb with no device: the real HID discovery finds nothing, exit 1;
#   f. Ctrl+C (SIGINT, which Wine turns into the console's Ctrl+C) during a download:
#      exit 130 at once, the loader never rebooted;
#   g. a firmware in a folder whose name has letters outside any ANSI code page;
#   e. figures, printed and never failed on: the block phase of a 256 KiB download at a
#      paced 115200 baud against its wire-time minimum, with the processor time each byte
#      cost the program, Wine's server and the loader (TARVIK_E2E_FIGURE_RUNS downloads, one
#      unless set, and their median), the .exe's size, and the start-to-exit time of --version.
# Each check prints PASS or FAIL; the exit status is 1 when any failed, 2 when the checks
# could not run at all.
#
# tools/windows-e2e.sh BUILD_DIR   (a Windows build folder: BUILD_DIR/src/cli/tarvik-flash.exe)
#
# The loader comes from the Linux build folder, TARVIK_LINUX_BUILD (default build/release, as
# tools/test.sh configures it); it is built there when missing. Wine runs in a prefix of its
# own under BUILD_DIR, where COM1 to COM9 lead nowhere except COM3, which leads to the
# loader's pseudo-terminal: no real serial port is ever opened.
set -uo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "$1" && pwd) || exit 2
exe=$build_dir/src/cli/tarvik-flash.exe
linux_build=${TARVIK_LINUX_BUILD:-$source_dir/build/release}
loader=$linux_build/src/sim/tarvik-serial-loader
work=$build_dir/e2e

# Every wait is bounded: a Wine run, the loader's start and its end.
readonly kRunLimit=120
readonly kLoaderStartLimit=100 # tenths of a second
readonly kLoaderEndLimit=300   # tenths of a second

die() {
    echo "windows-e2e: $*" >&2
    exit 2
}

[ -f "$exe" ] || die "no $exe: build the Windows programs first (tools/build-windows.sh)"
if ! command -v wine >/dev/null || ! command -v wineserver >/dev/null; then
    die "Wine is not installed"
fi
if [ ! -x "$loader" ]; then
    if [ ! -f "$linux_build/build.ninja" ]; then
        cmake -S "$source_dir" -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DTARVIK_WERROR=ON >/dev/null || die "cannot configure $linux_build"
    fi
    cmake --build "$linux_build" --target tarvik-serial-loader >/dev/null ||
        die "cannot build tarvik-serial-loader in $linux_build"
fi

export WINEPREFIX=$build_dir/wine-e2e
export WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would ask on a screen.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A console program needs no display; without one Wine opens no window either.
unset DISPLAY WAYLAND_DISPLAY

# The loader COM3 leads to, through Wine's own mapping (kept from one loader to the next).
com3_link=$WINEPREFIX/tarvik-com3

loader_pid=
loader_stdin=
wineserver_started=

stop_loader_now() {
    if [ -n "$loader_stdin" ]; then
        exec {loader_stdin}>&-
        loader_stdin=
    fi
    if [ -n "$loader_pid" ]; then
        kill -TERM "$loader_pid" 2>/dev/null
        sleep 0.2
        kill -KILL "$loader_pid" 2>/dev/null
        wait "$loader_pid" 2>/dev/null
        loader_pid=
    fi
}

cleanup() {
    stop_loader_now
    # The private prefix's server, and with it whatever still runs in that prefix.
    if [ -n "$wineserver_started" ]; then
        wineserver -k >/dev/null 2>&1
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

failures=0
pass() { echo "PASS  $1"; }
fail() {
    echo "FAIL  $1: $2"
    failures=$((failures + 1))
}

# start_loader NAME [LOADER OPTIONS...]: a loader on a fresh pseudo-terminal, with COM3 on
# it; its record in $work/NAME.rec, its output in $work/NAME.out and NAME.err. It runs until
# stop_loader closes its standard input.
start_loader() {
    local name=$1
    shift
    rm -f "$work/$name".*
    mkfifo "$work/$name.stdin"
    "$loader" --record "$work/$name.rec" "$@" <"$work/$name.stdin" \
        >"$work/$name.out" 2>"$work/$name.err" &
    loader_pid=$!
    # Read-write: the open never blocks, even if the loader died before opening its end.
    exec {loader_stdin}<>"$work/$name.stdin"
    local pty='' tenths
    for ((tenths = 0; tenths < kLoaderStartLimit; tenths++)); do
        if [ -s "$work/$name.out" ] && [ "$(wc -l <"$work/$name.out")" -ge 1 ]; then
            pty=$(head -n 1 "$work/$name.out")
            break
        fi
        kill -0 "$loader_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ $pty != /dev/* ]]; then
        echo "windows-e2e: the loader did not give its pseudo-terminal:" >&2
        cat "$work/$name.err" >&2
        stop_loader_now
        return 1
    fi
    ln -sfn "$pty" "$com3_link"
    ln -sfn "$pty" "$WINEPREFIX/dosdevices/com3"
}

# stop_loader: ends the loader (end of its input) and waits for it, boundedly; its exit
# status. Afterwards NAME.out holds its log and its errors ("error: ...").
stop_loader() {
    exec {loader_stdin}>&-
    loader_stdin=
    local tenths
    for ((tenths = 0; tenths < kLoaderEndLimit; tenths++)); do
        kill -0 "$loader_pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -TERM "$loader_pid" 2>/dev/null
    wait "$loader_pid"
    local status=$?
    loader_pid=
    return $status
}

# run NAME ARGS...: tarvik-flash.exe ARGS in $work, boundedly; its output (without the
# console's carriage returns) in $work/NAME.stdout and NAME.stderr, its exit status in
# $run_status.
run() {
    local name=$1
    shift
    (cd "$work" && timeout "$kRunLimit" wine "$exe" "$@" >"$name.raw-stdout" 2>"$name.raw-stderr")
    run_status=$?
    tr -d '\r' <"$work/$name.raw-stdout" >"$work/$name.stdout"
    tr -d '\r' <"$work/$name.raw-stderr" >"$work/$name.stderr"
}

# The file padded with zeros to whole 2048-byte blocks: what the loader should hold.
padded() {
    local size
    size=$(stat -c %s "$1")
    cp "$1" "$2"
    truncate -s $(((size + 2047) / 2048 * 2048)) "$2"
}

# Whether FILE has the line FIRST and, after it, the line SECOND.
lines_in_order() {
    awk -v first="$2" -v second="$3" '
        $0 == first && !seen { seen = 1; next }
        seen && $0 == second { found = 1 }
        END { exit found ? 0 : 1 }' "$1"
}

tail_of() {
    tail -n 5 "$@" 2>/dev/null | sed 's/^/      /'
}

# --- The prefix: made once, then COM1 to COM9 mapped to nothing but COM3 to our link.
rm -rf "$work"
mkdir -p "$work"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "=== making the Wine prefix $WINEPREFIX"
    timeout 300 wineboot -i >"$work/wineboot.log" 2>&1 || die "wineboot failed (see $work/wineboot.log)"
fi
# Wine links the machine's own ports (/dev/ttyS0 as COM1, ...) unless its Ports key says
# otherwise: an empty value leaves a port unmapped, so those ports move above COM9, out of
# the tool's reach.
ln -sfn /dev/null "$com3_link"
{
    printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
    for n in 1 2 3 4 5 6 7 8 9; do
        if [ "$n" = 3 ]; then
            printf '"COM3"="%s"\r\n' "$com3_link"
        else
            printf '"COM%s"=""\r\n' "$n"
        fi
    done
} >"$work/ports.reg"
wineserver_started=1
# A fresh prefix's server may still be settling after wineboot: a few tries, each from a
# stopped server.
imported=0
for _ in 1 2 3; do
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    if timeout "$kRunLimit" wine reg import "Z:${work//\//\\}\\ports.reg" >"$work/reg.log" 2>&1; then
        imported=1
        break
    fi
    sleep 2
done
[ "$imported" = 1 ] || die "cannot set Wine's port mapping (see $work/reg.log)"
# Restarted, the prefix maps its ports from the key; kept running, every check below starts
# without the server's start-up.
wineserver -k 2>/dev/null
wineserver -p >"$work/wineserver.log" 2>&1
timeout "$kRunLimit" wine cmd /c exit >/dev/null 2>&1
# The mapping is made by a service of the prefix, maybe after that first program is gone.
ports_mapped() {
    [ "$(readlink "$WINEPREFIX/dosdevices/com3")" = "$com3_link" ] || return 1
    for n in 1 2 4 5 6 7 8 9; do
        [ -L "$WINEPREFIX/dosdevices/com$n" ] && return 1
    done
    return 0
}
for ((tenths = 0; tenths < kLoaderStartLimit; tenths++)); do
    ports_mapped && break
    sleep 0.1
done
ports_mapped || die "Wine's ports are not mapped as asked: $(find "$WINEPREFIX/dosdevices" -name 'com*' -printf '%f -> %l  ')"

echo "=== tarvik-flash.exe under $(wine --version) ($exe)"

# --- a. A download through COM3.
head -c 200000 /dev/urandom >"$work/fw.bin"
padded "$work/fw.bin" "$work/fw.padded"
if start_loader download; then
    run download --port COM3 fw.bin
    stop_loader
    loader_status=$?
    if [ "$run_status" -ne 0 ]; then
        fail "a. download through COM3" "exit $run_status"
        tail_of "$work/download.stdout" "$work/download.stderr"
    elif ! grep -qx 'Download Finished!' "$work/download.stdout" ||
        [ "$(tail -n 1 "$work/download.stderr")" != 'Update: Download Finished!' ]; then
        fail "a. download through COM3" "no \"Download Finished!\""
        tail_of "$work/download.stdout" "$work/download.stderr"
    elif ! cmp -s "$work/fw.padded" "$work/download.rec"; then
        fail "a. download through COM3" "the loader holds other bytes than fw.bin padded to whole blocks"
    elif [ "$loader_status" -ne 0 ] || grep -q '^error: ' "$work/download.out"; then
        fail "a. download through COM3" "the loader saw errors (exit $loader_status)"
        grep '^error: ' "$work/download.out" | head -n 5 | sed 's/^/      /'
    elif ! grep -qx 'URBTU' "$work/download.out"; then
        fail "a. download through COM3" "the loader was not rebooted"
    else
        pass "a. download through COM3: 200000 bytes, the record equals the file padded to $(stat -c %s "$work/fw.padded") bytes"
    fi
else
    fail "a. download through COM3" "no loader"
fi

# --- b. A loader that goes silent after the clear command.
if start_loader silent --silent-after-clear; then
    run silent --port COM3 fw.bin
    stop_loader
    if [ "$run_status" -ne 1 ]; then
        fail "b. silent loader" "exit $run_status, not 1"
        tail_of "$work/silent.stderr"
    elif ! lines_in_order "$work/silent.stderr" 'Fail: Timeout fail!' 'UCLRU: NO Ack!'; then
        fail "b. silent loader" "not \"Fail: Timeout fail!\" then \"UCLRU: NO Ack!\" on stderr"
        tail_of "$work/silent.stderr"
    else
        pass "b. silent loader: \"Fail: Timeout fail!\" then \"UCLRU: NO Ack!\", exit 1"
    fi
else
    fail "b. silent loader" "no loader"
fi

# --- c. The version command at 9600 baud.
if start_loader version; then
    run version --port COM3 version
    stop_loader
    loader_status=$?
    if [ "$run_status" -ne 0 ]; then
        fail "c. version command" "exit $run_status"
        tail_of "$work/version.stdout" "$work/version.stderr"
    elif ! grep -qF 'TARVIK LOADER' "$work/version.stdout" "$work/version.stderr"; then
        fail "c. version command" "the device's reply is not printed"
        tail_of "$work/version.stdout" "$work/version.stderr"
    elif [ "$loader_status" -ne 0 ]; then
        fail "c. version command" "the loader saw errors (exit $loader_status)"
        tail_of "$work/version.out"
    elif ! grep -qx 'command %/%/' "$work/version.out"; then
        fail "c. version command" "the loader did not log the frame \"command %/%/\""
        tail_of "$work/version.out"
    else
        pass "c. version command: $(grep -hF 'TARVIK LOADER' "$work/version.stdout" "$work/version.stderr" | head -n 1)"
    fi
else
    fail "c. version command" "no loader"
fi

# --- d. USB with no device: the system's HID discovery, for real.
run usb --port usb fw.bin
if [ "$run_status" -ne 1 ]; then
    fail "d. usb without a device" "exit $run_status, not 1"
    tail_of "$work/usb.stdout" "$work/usb.stderr"
elif ! cat "$work/usb.stdout" "$work/usb.stderr" | grep -qF 'Make sure the Device work under USB-Boot Mode'; then
    fail "d. usb without a device" "no \"Make sure the Device work under USB-Boot Mode\""
    tail_of "$work/usb.stdout" "$work/usb.stderr"
else
    pass "d. usb without a device: \"Make sure the Device work under USB-Boot Mode\", exit 1"
fi

# --- f. Ctrl+C during a download at a paced 115200 baud (about 17 s for the whole of it).
if start_loader interrupt --pace; then
    (cd "$work" && exec wine "$exe" --port COM3 fw.bin >interrupt.raw-stdout 2>interrupt.raw-stderr) &
    flash_pid=$!
    sleep 4
    kill -INT "$flash_pid" 2>/dev/null
    for ((tenths = 0; tenths < 100; tenths++)); do
        kill -0 "$flash_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$flash_pid" 2>/dev/null; then
        kill -KILL "$flash_pid" 2>/dev/null
        wait "$flash_pid"
        stop_loader
        fail "f. Ctrl+C" "still running 10 s after Ctrl+C"
    else
        wait "$flash_pid"
        interrupt_status=$?
        stop_loader
        if [ "$interrupt_status" -ne 130 ]; then
            fail "f. Ctrl+C" "exit $interrupt_status, not 130"
            tail_of "$work/interrupt.raw-stderr"
        elif grep -qx 'URBTU' "$work/interrupt.out"; then
            fail "f. Ctrl+C" "the loader was rebooted: the download went on"
        else
            pass "f. Ctrl+C: exit 130 within $((tenths / 10)).$((tenths % 10)) s, the loader not rebooted"
        fi
    fi
else
    fail "f. Ctrl+C" "no loader"
fi

# --- g. A firmware in a folder named in letters of several scripts; the in-process USB
# loader keeps it to the file handling.
folder="$work/Prüfung ψ 固件"
mkdir -p "$folder"
cp "$work/fw.bin" "$folder/fw.bin"
run unicode --simulate --port usb "Prüfung ψ 固件/fw.bin"
if [ "$run_status" -ne 0 ] || ! grep -qx 'Download Finished!' "$work/unicode.stdout"; then
    fail "g. non-ASCII folder" "exit $run_status"
    tail_of "$work/unicode.stdout" "$work/unicode.stderr"
else
    pass "g. non-ASCII folder: \"Prüfung ψ 固件/fw.bin\" flashed"
fi

# --- e. Figures.
echo "=== figures"
head -c 262144 /dev/urandom >"$work/fw256.bin"

# cpu_ms PID [children]: the processor time of a process so far, or of the children it has
# waited for, in milliseconds; 0 when it is gone.
cpu_ms() {
    awk -v children="${2:-}" -v tick="$(getconf CLK_TCK)" '{
        sub(/^.*\) /, "")  # past the name, which may hold spaces
        printf "%d\n", (children ? $14 + $15 : $12 + $13) * 1000 / tick
    }' "/proc/$1/stat" 2>/dev/null || echo 0
}

# The prefix's Wine server: the process whose folder is the prefix's server folder.
wine_server_pid() {
    local folder p
    folder=server-$(printf %x "$(stat -c %d "$WINEPREFIX")")-$(printf %x "$(stat -c %i "$WINEPREFIX")")
    for p in /proc/[0-9]*; do
        if [[ $(readlink "$p/cwd" 2>/dev/null) == */"$folder" ]]; then
            echo "${p#/proc/}"
            return
        fi
    done
}

# The block phase runs from the first "UFLHU" to the acknowledgement before "URBTU". Every
# byte of it crosses the line in turn (a frame, then its acknowledgement), so its wire-time
# minimum is all of them at 10 bits a byte. A command may be traced in more than one burst,
# so the commands are found in the stream of bytes sent. Prints "seconds bytes", or nothing.
block_phase() {
    awk '
        { sub(/\r$/, "") }  # written on Windows, in text mode
        $2 != "tx" && $2 != "rx" { next }
        {
            for (i = 3; i <= NF; i++) {
                if (started) count++
                if ($2 == "rx") { if (started) last = $1; continue }
                sent = sent " " $i  # the last five bytes sent, as " 55 46 4C 48 55"
                if (length(sent) > 15) sent = substr(sent, length(sent) - 14)
                at[n++ % 5] = $1
                if (!started && sent == " 55 46 4C 48 55") {
                    started = 1; start = at[n % 5]; count = 5
                } else if (started && sent == " 55 52 42 54 55") {
                    count -= 5; done = 1; exit
                }
            }
        }
        END { if (done) printf "%.3f %d\n", (last - start) / 1000, count }' "$1"
}

# The paced download TARVIK_E2E_FIGURE_RUNS times (the machine may be busy with other
# work): each run's block phase, and the processor time that each byte on the wire cost the
# program, Wine's server and the loader over the whole download.
ratios=()
for ((figure = 1; figure <= ${TARVIK_E2E_FIGURE_RUNS:-1}; figure++)); do
    if ! start_loader paced --pace; then
        echo "  block phase: no loader"
        continue
    fi
    server=$(wine_server_pid)
    server_before=$(cpu_ms "${server:-0}")
    tool_before=$(cpu_ms $$ children)
    run paced --port COM3 --trace paced.trace fw256.bin
    tool_ms=$(($(cpu_ms $$ children) - tool_before))
    server_ms=$(($(cpu_ms "${server:-0}") - server_before))
    loader_ms=$(cpu_ms "$loader_pid")
    stop_loader
    read -r took count < <(block_phase "$work/paced.trace")
    if [ "$run_status" -ne 0 ]; then
        echo "  block phase: the paced download failed (exit $run_status)"
        tail_of "$work/paced.stderr"
    elif [ -z "${count:-}" ]; then
        echo "  block phase: not found in the trace"
    else
        ratio=$(awk -v took="$took" -v count="$count" 'BEGIN { printf "%.2f", took / (count * 10 / 115200) }')
        ratios+=("$ratio")
        awk -v took="$took" -v count="$count" -v ratio="$ratio" -v tool="$tool_ms" \
            -v server="$server_ms" -v loader="$loader_ms" 'BEGIN {
            printf "  block phase: %.2f s for %d bytes on the wire; wire-time minimum %.2f s; ratio %s\n",
                took, count, count * 10 / 115200, ratio
            printf "    processor time a byte: tarvik-flash.exe %.1f us, Wine'"'"'s server %.1f us, loader %.1f us\n",
                tool * 1000 / count, server * 1000 / count, loader * 1000 / count
        }'
    fi
    unset took count
done
if [ "${#ratios[@]}" -gt 1 ]; then
    echo "  block phase ratio: median $(printf '%s\n' "${ratios[@]}" | sort -n |
        sed -n "$(((${#ratios[@]} + 1) / 2))p") of ${#ratios[@]} (${ratios[*]})"
fi
exe_size="$(stat -c %s "$exe") bytes"
if command -v x86_64-w64-mingw32-strip >/dev/null &&
    x86_64-w64-mingw32-strip -o "$work/stripped.exe" "$exe" 2>/dev/null; then
    exe_size="$exe_size, $(stat -c %s "$work/stripped.exe") stripped (as the zip holds it)"
fi
echo "  tarvik-flash.exe: $exe_size"
times=()
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    (cd "$work" && timeout "$kRunLimit" wine "$exe" --version >/dev/null 2>&1)
    times+=($((($(date +%s%N) - start) / 1000000)))
done
median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n 3p)
echo "  --version, start to exit: median ${median} ms of 5 (${times[*]} ms)"

if [ "$failures" -ne 0 ]; then
    echo "windows-e2e: $failures check(s) failed; the runs are in $work"
    exit 1
fi
echo "windows-e2e: all checks passed"
