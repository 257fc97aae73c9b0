# shellcheck shell=bash
# The files the install and the package put in place, relative to the prefix (/usr in the
# package), one a line. Sourced by the packaging tests and tools/package-check.sh, so the
# three agree on one list.
#
# tarvik_expected_files HAVE_UPDATER: HAVE_UPDATER is 1 when the build has the window.
tarvik_expected_files() {
    local have_updater=$1
    printf '%s\n' \
        bin/tarvik-flash \
        lib/udev/rules.d/70-tarvik-loader.rules \
        share/bash-completion/completions/tarvik-flash \
        share/man/man1/tarvik-flash.1.gz \
        share/tarvik-firmware-utility/tarvik-demo.bin
    if [ "$have_updater" = 1 ]; then
        printf '%s\n' \
            bin/tarvik-updater \
            share/applications/tarvik-updater.desktop \
            share/icons/hicolor/16x16/apps/tarvik-updater.png \
            share/icons/hicolor/32x32/apps/tarvik-updater.png \
            share/icons/hicolor/48x48/apps/tarvik-updater.png \
            share/icons/hicolor/256x256/apps/tarvik-updater.png \
            share/icons/hicolor/scalable/apps/tarvik-updater.svg \
            share/man/man1/tarvik-updater.1.gz
    fi
}

# The sizes the window's icon comes in, besides the scalable one.
# shellcheck disable=SC2034  # used by the scripts that source this file
tarvik_icon_sizes=(16 32 48 256)
