#!/usr/bin/env bash
# Makes a program's bash completion from its --help: its sub-commands, options, option values, setting
# names and what follows each sub-command (packaging/help_words.awk reads them), followed by the logic
# that every program's completion shares (packaging/completion.bash). Port names come from the program's
# own listing when completing.
# Usage: completion.sh PROGRAM OUTPUT
set -euo pipefail
[[ $# -eq 2 ]] || { echo "usage: $0 PROGRAM OUTPUT" >&2; exit 2; }
program=$1 output=$2
here=$(dirname "$0")
name=$(basename "$program")
function=_${name//-/_}

commands="" options="" settings="" switches="" takes="" arguments=""
declare -A usage_values=()
while read -r kind word what; do
  case $kind in
    usage) usage_values[$word]=$what ;;
    option)
      options+=" $word"
      # "--midi NAME" takes the values that the usage line gives it ("--midi sim|alsa|jack").
      [[ $what == any && -n ${usage_values[$word]:-} ]] && what=words:${usage_values[$word]}
      takes+=" [$word]=$(printf '%q' "${what//|/ }")"
      ;;
    command)
      commands+=" $word"
      arguments+=" [$word]=$what"
      ;;
    setting)
      settings+=" $word"
      [[ $what == switch ]] && switches+=" $word"
      ;;
  esac
done < <(LC_ALL=C "$program" --help | awk -f "$here/help_words.awk")
[[ -n $options ]] || { echo "completion: no options in $program --help" >&2; exit 1; }
listing=--list
[[ " $commands " == *" list "* ]] && listing=list

{
  echo "# Bash completion of $name, made by packaging/completion.sh from \`$name --help\`."
  echo "$function() {"
  echo "  local commands='${commands# }' options='${options# }' listing=$listing"
  echo "  local settings='${settings# }' switches='${switches# }'"
  echo "  local -A takes=(${takes# }) arguments=(${arguments# })"
  echo "  _vexa_complete"
  echo "}"
  echo "complete -F $function $name"
  echo
  cat "$here/completion.bash"
} >"$output.tmp"
mv "$output.tmp" "$output"
