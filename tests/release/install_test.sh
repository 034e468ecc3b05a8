#!/usr/bin/env bash
# make install and make uninstall (packaging/install.sh) into throwaway trees, and the bash completion as
# installed, run by bash as it completes a command line:
#   - into an empty tree: the programs stripped and running, the pages read; uninstalling leaves the
#     tree empty;
#   - where folders and files of others are: uninstalling leaves exactly those;
#   - installing twice, then uninstalling once, leaves the tree empty; uninstalling nothing fails;
#   - completion: the options of --help; --midi's values (those the program's error names); the units
#     that the program lists as ports; vexa-sim's values; file names; and, where --help lists them, the
#     sub-commands, the setting names after `get` and `set`, on and off after a switch's NAME=, file
#     names after `backup`, `restore` and `--image`.
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

# An empty tree.
stage=$work/empty
mkdir "$stage"
run_install /usr/local "$stage" install "$build" || fail "installing into an empty tree failed"
for path in bin/vexa bin/vexa-sim share/man/man1/vexa.1.gz share/man/man1/vexa-sim.1.gz \
  share/bash-completion/completions/vexa share/bash-completion/completions/vexa-sim; do
  [[ -f $stage/usr/local/$path ]] || fail "not installed: /usr/local/$path"
done
[[ $(stat -c %a "$stage/usr/local/bin/vexa") == 755 ]] || fail "bin/vexa is not mode 755"
[[ $(stat -c %a "$stage/usr/local/share/man/man1/vexa.1.gz") == 644 ]] || fail "vexa.1.gz is not mode 644"
for program in vexa vexa-sim; do
  readelf -S "$stage/usr/local/bin/$program" | grep -qE '\.(symtab|debug_)' && fail "the installed $program is not stripped"
done
"$stage/usr/local/bin/vexa" --version | grep -qF "vexa $(head -1 "$source/VERSION")" ||
  fail "the installed vexa --version does not name VERSION"
"$stage/usr/local/bin/vexa-sim" --version >/dev/null || fail "the installed vexa-sim --version failed"
for page in vexa vexa-sim; do
  zcat "$stage/usr/local/share/man/man1/$page.1.gz" | groff -man -Tascii -P-cbou 2>/dev/null | grep -q "^NAME" ||
    fail "the installed $page.1.gz cannot be read as a manual page"
done

# The completion, as bash runs it: the installed file sourced, the words of the line in COMP_WORDS. The
# replies come one a line; compopt (only allowed while bash completes) is recorded instead.
complete_line() {
  local name=$1
  shift
  (cd "$work/files" && PATH=$stage/usr/local/bin:$PATH bash -c '
    source "$1"; shift
    compopt() { echo "compopt $*" >>"'"$work"'/compopt"; }
    function=$(complete -p "$1" | sed "s/.*-F \([^ ]*\) .*/\1/")
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    "$function"
    printf "%s\n" "${COMPREPLY[@]}"' - "$stage/usr/local/share/bash-completion/completions/$name" "$@")
}
# expect_words NAME "WORDS" LINE...: the completion of LINE offers exactly WORDS (in any order).
expect_words() {
  local name=$1 words=$2 got want
  shift 2
  got=$(complete_line "$name" "$@" | sort | grep .)
  want=$(tr ' ' '\n' <<<"$words" | sort | grep .)
  [[ $got == "$want" ]] || fail "completing \"$*\": offered [$(echo $got)], expected [$(echo $want)]"
}
mkdir "$work/files" && touch "$work/files/unit.log" "$work/files/settings.json"
vexa=$stage/usr/local/bin/vexa
help=$("$vexa" --help)
help_options=$(grep -E '^ {1,4}-' <<<"$help" | sed -E 's/^ +//; s/ {2,}.*//' | grep -oE -- '--?[A-Za-z0-9][A-Za-z0-9-]*')
expect_words vexa "$help_options" vexa --
midi_names=$("$vexa" --midi no-such-service 2>&1 | sed -nE 's/.*choose ([a-z|]+).*/\1/p' | tr '|' ' ')
[[ -n $midi_names ]] || fail "vexa names no MIDI services in its error"
expect_words vexa "$midi_names" vexa --midi ""
expect_words vexa "$midi_names" vexa --midi =
expect_words vexa "sim" vexa --midi s
ports=$("$vexa" --midi sim --list | sed -nE 's/^ +[0-9]+: (.*)  \(paired with.*/\1/p')
[[ -n $ports ]] || fail "vexa --midi sim --list shows no unit"
if grep -q -- '--port' <<<"$help_options"; then
  expect_words vexa "$ports" vexa --midi sim --port ""
  expect_words vexa "$ports" vexa --midi = sim --port = ""
fi
sim_help=$("$stage/usr/local/bin/vexa-sim" --help)
expect_words vexa-sim "$(sed -nE 's/^ +--api ([a-z|]+)( .*)?$/\1/p' <<<"$sim_help" | tr '|' ' ')" vexa-sim --api ""
expect_words vexa-sim "$(sed -nE 's/^ +--verify ([a-z|-]+)( .*)?$/\1/p' <<<"$sim_help" | tr '|' ' ')" vexa-sim --verify ""
expect_words vexa-sim "unit.log" vexa-sim --log u
grep -q "compopt -o filenames" "$work/compopt" 2>/dev/null || fail "file names are not completed as file names"

# The sub-commands and the setting names, where --help lists them (headings that name them).
# A heading is a paragraph that starts in the first column; it may run over two lines.
section_heads() { awk -v want="^$1" '/^$/ { gap = 1; next } /^[^ ]/ { if (gap) on = (tolower($0) ~ want); gap = 0; next }
    { gap = 0 } on && /^  ? ? ?[a-z]/' |
  sed -E 's/^ +//; s/[ =].*//'; }
commands=$(section_heads command <<<"$help")
settings=$(section_heads setting <<<"$help")
if [[ -n $commands ]]; then
  expect_words vexa "$commands" vexa ""
  expect_words vexa "$commands" vexa --midi sim ""
fi
if [[ -n $settings ]]; then
  expect_words vexa "$settings" vexa get ""
  expect_words vexa "$(grep -vx brightness <<<"$settings")" vexa --midi sim get brightness ""
  expect_words vexa "$(sed 's/$/=/' <<<"$settings")" vexa set ""
  grep -q "compopt -o nospace" "$work/compopt" || fail "NAME= of set is followed by a blank"
  switch=$(grep -E '^ {1,4}[a-z][a-z0-9-]* +on\|off' <<<"$help" | awk '{ print $1 }' | head -1)
  number=$(grep -E '^ {1,4}[a-z][a-z0-9-]* +[0-9]+\.\.[0-9]+' <<<"$help" | awk '{ print $1 }' | head -1)
  [[ -n $switch && -n $number ]] || fail "--help shows no on|off setting or no setting with a range"
  expect_words vexa "on off" vexa set "$switch" = ""
  expect_words vexa "off" vexa set "$switch" = of
  expect_words vexa "" vexa set "$number" = ""
fi
if grep -qx backup <<<"$commands"; then
  expect_words vexa "settings.json" vexa backup s
  expect_words vexa "settings.json" vexa --midi sim restore s
fi
if grep -q -- '--image' <<<"$help_options"; then
  expect_words vexa "settings.json" vexa update --image s
fi
echo "completion: $(wc -w <<<"$help_options") options, $(wc -w <<<"$commands") sub-commands," \
  "$(wc -w <<<"$settings") settings, ports [$(echo $ports)]"

run_install /usr/local "$stage" uninstall || fail "uninstalling failed"
left=$(tree "$stage")
[[ -z $left ]] || fail "uninstalling left behind: $left"

# A tree where others' folders and files are: they stay, and only they.
stage=$work/shared
mkdir -p "$stage/opt/vexa/bin" "$stage/opt/vexa/share/man/man1"
touch "$stage/opt/vexa/bin/other" "$stage/opt/vexa/share/man/man1/other.1"
before=$(tree "$stage")
run_install /opt/vexa "$stage" install "$build" || fail "installing beside other files failed"
run_install /opt/vexa "$stage" uninstall || fail "uninstalling beside other files failed"
[[ $(tree "$stage") == "$before" ]] || fail "uninstalling beside other files left [$(tree "$stage")], not [$before]"

# Installing twice, uninstalling once; uninstalling what is not there.
stage=$work/twice
mkdir "$stage"
run_install /usr/local "$stage" install "$build" && run_install /usr/local "$stage" install "$build" ||
  fail "installing twice failed"
run_install /usr/local "$stage" uninstall || fail "uninstalling after installing twice failed"
left=$(tree "$stage")
[[ -z $left ]] || fail "installing twice, then uninstalling left behind: $left"
run_install /usr/local "$stage" uninstall 2>/dev/null && fail "uninstalling where nothing is installed succeeded"

[[ $failures -eq 0 ]] || { echo "$failures failures" >&2; exit 1; }
echo "install and uninstall leave nothing behind; the completion offers what --help lists"
