#!/usr/bin/env bash
# make install and make uninstall (packaging/install.sh) into throwaway trees (what install.sh installs,
# with its modes and the programs stripped, is deb_test.sh's: the package is made by it):
#   - installing twice where folders and files of others are, then uninstalling once, leaves exactly those;
#   - uninstalling once more, where nothing is installed, fails.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -uo pipefail
build=$1 source=$2
install_sh=$source/packaging/install.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
tree() { (cd "$1" && find . -mindepth 1 | sort); }
run_install() { PREFIX=$1 DESTDIR=$2 "$install_sh" "${@:3}" >/dev/null; }

# A tree where others' folders and files are: installing twice and uninstalling once leaves them, and only them.
stage=$work/shared
mkdir -p "$stage/opt/vexa/bin" "$stage/opt/vexa/share/man/man1"
touch "$stage/opt/vexa/bin/other" "$stage/opt/vexa/share/man/man1/other.1"
before=$(tree "$stage")
run_install /opt/vexa "$stage" install "$build" && run_install /opt/vexa "$stage" install "$build" ||
  fail "installing twice beside other files failed"
run_install /opt/vexa "$stage" uninstall || fail "uninstalling beside other files failed"
[[ $(tree "$stage") == "$before" ]] || fail "uninstalling beside other files left [$(tree "$stage")], not [$before]"
run_install /opt/vexa "$stage" uninstall 2>/dev/null && fail "uninstalling where nothing is installed succeeded"

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "install and uninstall leave nothing behind"
