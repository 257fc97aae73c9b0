#!/usr/bin/env bash
# PackagingTest.InstallTree: installs the build into a scratch DESTDIR with prefix /usr and
# checks what landed there: exactly the expected files, runnable programs, a valid desktop
# entry whose icon exists in every size, icons of the size their folder says, a udev rule
# that grants the seat's user access and nothing wider, manual pages that render without a
# warning and cover the usage text, and a bash completion that offers the right words.
#
# install-tree-test.sh BUILD_DIR SOURCE_DIR HAVE_UPDATER PACKAGE_VERSION
set -uo pipefail

# shellcheck source-path=SCRIPTDIR source=test-common.sh
source "$(dirname "${BASH_SOURCE[0]}")/test-common.sh"
root=$tmp/root
# words TEXT: the lines of TEXT on one line.
words() { printf '%s' "$1" | tr '\n' ' '; }

# --- The install itself.
if ! DESTDIR=$root cmake --install "$build" --prefix /usr >"$tmp/install.log" 2>&1; then
    cat "$tmp/install.log"
    echo "FAIL: cmake --install into DESTDIR failed"
    exit 1
fi
usr=$root/usr

# --- Exactly the expected files, nothing outside the prefix.
tarvik_expected_files "$have_updater" | sort >"$tmp/expected"
(cd "$root" && find . -type f -o -type l) | sed 's|^\./||' | sort >"$tmp/installed"
sed 's|^|usr/|' "$tmp/expected" >"$tmp/expected-rooted"
if ! diff -u "$tmp/expected-rooted" "$tmp/installed" >"$tmp/files.diff"; then
    cat "$tmp/files.diff"
    fail "the installed files differ from the expected list (- missing, + unexpected)"
fi
[ -e "$root/usr/local" ] && fail "something was installed under /usr/local"

# Programs 0755, everything else 0644: a data file that is executable, or a program that
# is not, is a packaging fault that a user would notice.
while IFS= read -r file; do
    case $file in
        bin/*) want=755 ;;
        *) want=644 ;;
    esac
    mode=$(stat -c %a "$usr/$file" 2>/dev/null) || continue
    [ "$mode" = "$want" ] || fail "$file has mode $mode, not $want"
done <"$tmp/expected"

# --- The programs.
flash=$usr/bin/tarvik-flash
if [ -x "$flash" ]; then
    out=$("$flash" --version 2>&1) || fail "installed tarvik-flash --version exited $?"
    [[ $out == "tarvik-flash $version"* ]] ||
        fail "installed tarvik-flash --version printed '$out', expected 'tarvik-flash $version...'"
    "$flash" --help >"$tmp/help.txt" 2>&1 || fail "installed tarvik-flash --help exited $?"
    head -n1 "$tmp/help.txt" | grep -q '^Usage: tarvik-flash' ||
        fail "installed tarvik-flash --help does not start with its usage line"
else
    fail "bin/tarvik-flash is not an executable"
fi
if ! cmp -s "$source_dir/demo/tarvik-demo.bin" \
    "$usr/share/tarvik-firmware-utility/tarvik-demo.bin"; then
    fail "the installed demo firmware differs from demo/tarvik-demo.bin"
fi
# The installed program's demo flashes the copy installed beside it, whole, over both roads.
if timeout 120 "$usr/bin/tarvik-flash" --demo >"$tmp/demo.out" 2>&1; then
    grep -qxF "Demo firmware: $usr/share/tarvik-firmware-utility/tarvik-demo.bin" "$tmp/demo.out" ||
        fail "the installed demo did not take the installed firmware: $(head -n3 "$tmp/demo.out")"
    [ "$(grep -c 'Download Finished!' "$tmp/demo.out")" -ge 2 ] ||
        fail "the installed demo did not finish both roads: $(tail -n5 "$tmp/demo.out")"
else
    fail "the installed tarvik-flash --demo failed: $(tail -n5 "$tmp/demo.out")"
fi
if [ "$have_updater" = 1 ]; then
    updater=$usr/bin/tarvik-updater
    if [ -x "$updater" ]; then
        # A bad argument makes it exit before any window or device: proof that it starts
        # with the libraries it links against.
        QT_QPA_PLATFORM=offscreen timeout 60 "$updater" --no-such-option >"$tmp/updater.out" 2>&1
        rc=$?
        [ $rc -eq 2 ] || fail "installed tarvik-updater --no-such-option exited $rc, not 2"
        grep -q 'usage: tarvik-updater' "$tmp/updater.out" ||
            fail "installed tarvik-updater printed no usage line: $(cat "$tmp/updater.out")"
    else
        fail "bin/tarvik-updater is not an executable"
    fi
fi

# --- The desktop entry and its icons.
if [ "$have_updater" = 1 ]; then
    desktop=$usr/share/applications/tarvik-updater.desktop
    if ! desktop-file-validate "$desktop" >"$tmp/validate.txt" 2>&1 || [ -s "$tmp/validate.txt" ]; then
        fail "desktop-file-validate: $(cat "$tmp/validate.txt")"
    fi
    entry() { sed -n "s/^$1=//p" "$desktop" | head -n1; }
    [ "$(entry Name)" = "Tarvik Firmware Utility" ] || fail "desktop Name is '$(entry Name)'"
    exec_program=$(entry Exec | cut -d' ' -f1)
    [ -x "$usr/bin/$exec_program" ] || fail "desktop Exec '$exec_program' is not an installed program"
    icon=$(entry Icon)
    [ -n "$icon" ] || fail "the desktop entry names no icon"
    for size in "${tarvik_icon_sizes[@]}"; do
        png=$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
        if [ ! -f "$png" ]; then
            fail "icon '$icon' is missing in ${size}x${size}"
            continue
        fi
        # The PNG signature, then the IHDR chunk: width and height, big-endian, at 16 and 20.
        signature=$(od -An -tx1 -N8 "$png" | tr -d ' \n')
        [ "$signature" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
        width=$(od -An -tu1 -j16 -N4 "$png" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
        height=$(od -An -tu1 -j20 -N4 "$png" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }')
        if [ "$width" != "$size" ] || [ "$height" != "$size" ]; then
            fail "$png is ${width}x${height}, not ${size}x${size}"
        fi
    done
    svg=$usr/share/icons/hicolor/scalable/apps/$icon.svg
    grep -q '<svg' "$svg" 2>/dev/null || fail "icon '$icon' has no scalable SVG"
fi

# --- The udev rule.
rules=("$usr"/lib/udev/rules.d/*.rules)
if [ ${#rules[@]} -ne 1 ] || [ ! -f "${rules[0]}" ]; then
    fail "expected one udev rule file, found: ${rules[*]}"
else
    rule_file=${rules[0]}
    number=$(basename "$rule_file" | grep -o '^[0-9]*')
    if [ -z "$number" ] || [ "$((10#$number))" -ge 73 ]; then
        fail "$(basename "$rule_file") must be numbered below 73, where uaccess is applied"
    fi
    grep -q '^#' "$rule_file" || fail "the udev rule has no comment saying what it does"
    grep -v '^[[:space:]]*#' "$rule_file" | grep -v '^[[:space:]]*$' >"$tmp/rule-lines"
    [ "$(wc -l <"$tmp/rule-lines")" -eq 1 ] || fail "expected one rule line, got: $(cat "$tmp/rule-lines")"
    line=$(cat "$tmp/rule-lines")
    for part in 'SUBSYSTEM=="hidraw"' 'ATTRS{idVendor}=="ffff"' 'ATTRS{idProduct}=="0012"' \
        'TAG+="uaccess"'; do
        [[ $line == *"$part"* ]] || fail "the udev rule lacks $part"
    done
    if grep -E '(MODE|GROUP|OWNER)[[:space:]]*:?=' "$tmp/rule-lines" >/dev/null; then
        fail "the udev rule grants more than uaccess: $line"
    fi
fi

# --- The manual pages: no warning from groff, and the sections and words a user looks for.
render() { zcat "$1" | groff -man -ww -Tascii -P-cbou -rLL=80n -rLT=80n 2>"$tmp/groff.err"; }
check_page() {
    local page=$1
    shift
    local gz=$usr/share/man/man1/$page.1.gz
    if ! gzip -t "$gz" 2>/dev/null; then
        fail "$page.1.gz is missing or not gzip"
        return
    fi
    render "$gz" >"$tmp/$page.txt"
    [ -s "$tmp/groff.err" ] && fail "groff warns on $page.1: $(cat "$tmp/groff.err")"
    zcat "$gz" | groff -man -ww -z 2>"$tmp/groff.err"
    [ -s "$tmp/groff.err" ] && fail "groff warns on $page.1 (default device): $(cat "$tmp/groff.err")"
    local word
    for word in "$@"; do
        grep -qF -- "$word" "$tmp/$page.txt" || fail "$page(1) does not mention '$word'"
    done
}
check_page tarvik-flash NAME SYNOPSIS DESCRIPTION OPTIONS COMMANDS 'EXIT STATUS' ENVIRONMENT \
    FILES PERMISSIONS 'SEE ALSO' TARVIK_COMn .config/tarvik/ports.conf dialout uaccess \
    'udevadm control --reload' 130 tarvik-updater
# section PAGE NAME: the rendered text of one section of a page, without its heading.
section() { sed -n "/^$2\$/,/^[A-Z][A-Z ]*\$/p" "$tmp/$1.txt" | sed '1d;$d'; }
if [ -f "$tmp/help.txt" ] && [ -f "$tmp/tarvik-flash.txt" ]; then
    # Every option and every maintenance command of the usage text has its own entry in
    # the page's OPTIONS or COMMANDS section, not just a mention in the synopsis.
    grep -o -- '--[a-z]\+' "$tmp/help.txt" | sort -u >"$tmp/help-options"
    [ -s "$tmp/help-options" ] || fail "no option found in tarvik-flash --help"
    section tarvik-flash OPTIONS >"$tmp/man-options"
    while IFS= read -r option; do
        grep -qE -- "^ {7}$option( |\$)" "$tmp/man-options" ||
            fail "tarvik-flash(1) has no OPTIONS entry for $option"
    done <"$tmp/help-options"
    sed -n '/^Maintenance commands/,/^$/p' "$tmp/help.txt" | tail -n +2 |
        grep -o '[a-z][a-z0-9-]*[0-9a-z]' | grep -vxE 'at|most|characters|four|twelve' |
        sort -u >"$tmp/help-commands"
    [ "$(wc -l <"$tmp/help-commands")" -ge 13 ] ||
        fail "found only $(wc -l <"$tmp/help-commands") maintenance commands in --help"
    section tarvik-flash COMMANDS >"$tmp/man-commands"
    while IFS= read -r command; do
        grep -qE -- "^ {7}([a-z0-9-]+, )*$command([ ,]|\$)" "$tmp/man-commands" ||
            fail "tarvik-flash(1) has no COMMANDS entry for $command"
    done <"$tmp/help-commands"
    # And every exit status the usage text names.
    section tarvik-flash 'EXIT STATUS' >"$tmp/man-status"
    for status in 0 1 2 130; do
        grep -qE "^ {7}$status( |\$)" "$tmp/man-status" ||
            fail "tarvik-flash(1) has no EXIT STATUS entry for $status"
    done
fi
if [ "$have_updater" = 1 ]; then
    check_page tarvik-updater NAME SYNOPSIS DESCRIPTION --demo PERMISSIONS dialout uaccess \
        TARVIK_COMn 'tarvik-flash(1)'
fi

# --- The bash completion.
completion=$usr/share/bash-completion/completions/tarvik-flash
bash -n "$completion" 2>"$tmp/bash-n.err" || fail "the completion does not parse: $(cat "$tmp/bash-n.err")"
mkdir -p "$tmp/dev/by-id" "$tmp/work/images"
touch "$tmp/dev/ttyUSB0" "$tmp/dev/ttyACM3" "$tmp/dev/by-id/usb-Tarvik_Cradle-if00-port0" \
    "$tmp/work/app.bin" "$tmp/work/APP2.OUT" "$tmp/work/notes.txt"
# complete WORD...: the words offered for the last WORD, sorted, one a line. The serial
# device globs point at the scratch folder, so the answer does not depend on this machine.
complete_words() {
    (
        cd "$tmp/work" || exit 1
        # shellcheck disable=SC1090
        source "$completion" || exit 1
        complete -p tarvik-flash >/dev/null || exit 1
        _tarvik_flash_serial_patterns=("$tmp/dev/ttyUSB*" "$tmp/dev/ttyACM*" "$tmp/dev/by-id/*")
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        _tarvik_flash
        printf '%s\n' "${COMPREPLY[@]}"
    ) | sort
}
expect_completion() {
    local want=$1
    shift
    local got
    got=$(complete_words "$@")
    [ "$got" = "$(printf '%s' "$want" | sort)" ] ||
        fail "completing '$*' offered [$(words "$got")], expected [$(words "$want")]"
}
expect_completion "$(printf '%s\n' usb COM{1..9} "$tmp/dev/ttyUSB0" "$tmp/dev/ttyACM3" \
    "$tmp/dev/by-id/usb-Tarvik_Cradle-if00-port0")" tarvik-flash --port ''
expect_completion "$(printf '%s\n' COM{1..9})" tarvik-flash --port C
expect_completion "$tmp/dev/ttyUSB0" tarvik-flash --port "$tmp/dev/ttyU"
expect_completion "$(printf '%s\n' reset version query set-undiscover cr02 ke99 ke01 ke97 \
    dash02 text command cradle-id raw app.bin APP2.OUT images)" tarvik-flash --port COM2 ''
expect_completion "$(printf '%s\n' cr02 cradle-id command)" tarvik-flash --trace t.log c
expect_completion "" tarvik-flash --port COM2 text ''
expect_completion "" tarvik-flash app.bin ''
# Every option of the usage text is offered after "--".
if [ -f "$tmp/help-options" ]; then
    complete_words tarvik-flash -- >"$tmp/offered-options"
    missing=$(comm -23 "$tmp/help-options" "$tmp/offered-options")
    [ -z "$missing" ] || fail "completing '--' does not offer: $(words "$missing")"
    grep -qvx -- '--[a-z]*' "$tmp/offered-options" &&
        fail "completing '--' offers something else than options: $(words "$(cat "$tmp/offered-options")")"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install tree: all checks passed ($(wc -l <"$tmp/expected") files)"
