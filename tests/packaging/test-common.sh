# shellcheck shell=bash
# What both packaging tests start with: their arguments, the expected files, a scratch folder
# removed on every way out, and a failure counter. Sourced after `set -uo pipefail`.
#
# <test>.sh BUILD_DIR SOURCE_DIR HAVE_UPDATER PACKAGE_VERSION
if [ $# -ne 4 ]; then
    echo "usage: $0 BUILD_DIR SOURCE_DIR HAVE_UPDATER PACKAGE_VERSION" >&2
    exit 2
fi
# shellcheck disable=SC2034  # used by the scripts that source this file
build=$1 source_dir=$2 have_updater=$3 version=$4
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source-path=SCRIPTDIR source=expected-files.sh
source "$here/expected-files.sh"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
