# The completion logic that the bash completion of vexa and of vexa-sim share. packaging/completion.sh
# puts a function in front of it that holds one program's words, taken from its --help, as locals:
#   commands   the sub-commands ("" for none); listing: the arguments that list the MIDI ports
#   options    every option
#   takes      option -> its value: words:A B C, files, ports or any
#   arguments  sub-command -> what follows it: names, assignments (NAME=VALUE), files or options
#   settings   the setting names; switches: those that are on or off
# and calls _vexa_complete, which reads them (bash functions see their callers' locals).

# Bash splits NAME=VALUE and --option=VALUE at the '=' into three words: the value is completed where the
# word before it, or the word being completed, is that '='.
_vexa_complete() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=""
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  COMPREPLY=()
  if [[ $cur == = ]]; then
    _vexa_value "$prev" ""
    return 0
  fi
  if [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
    _vexa_value "${COMP_WORDS[COMP_CWORD - 2]}" "$cur"
    return 0
  fi
  if [[ -n ${takes[$prev]:-} && ${takes[$prev]} != flag ]]; then
    _vexa_value "$prev" "$cur"
    return 0
  fi
  if [[ $cur == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
    return 0
  fi
  local command
  command=$(_vexa_command)
  if [[ -z $command ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$commands" -- "$cur")
    return 0
  fi
  case ${arguments[$command]:-} in
    names) mapfile -t COMPREPLY < <(compgen -W "$(_vexa_unnamed)" -- "$cur") ;;
    assignments)
      compopt -o nospace
      mapfile -t COMPREPLY < <(compgen -S = -W "$(_vexa_unnamed)" -- "$cur")
      ;;
    files)
      compopt -o filenames
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      ;;
  esac
}

# The value of option or setting $1 that starts with $2.
_vexa_value() {
  if [[ $1 != -* ]]; then
    [[ " $switches " == *" $1 "* ]] && mapfile -t COMPREPLY < <(compgen -W "on off" -- "$2")
    return 0
  fi
  case ${takes[$1]:-any} in
    words:*) mapfile -t COMPREPLY < <(compgen -W "${takes[$1]#words:}" -- "$2") ;;
    files)
      compopt -o filenames
      mapfile -t COMPREPLY < <(compgen -f -- "$2")
      ;;
    ports) _vexa_ports "$2" ;;
  esac
}

# The sub-command on the line so far: the first word that is neither an option nor an option's value.
_vexa_command() {
  local i word
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == -* ]]; then
      [[ ${COMP_WORDS[i + 1]:-} == = ]] && ((i += 2)) && continue
      [[ -n ${takes[$word]:-} && ${takes[$word]} != flag ]] && ((i += 1))
      continue
    fi
    echo "$word"
    return 0
  done
}

# The setting names that are not on the line yet, alone or as NAME=VALUE.
_vexa_unnamed() {
  local name used=" ${COMP_WORDS[*]:1:COMP_CWORD-1} "
  for name in $settings; do
    [[ $used == *" $name "* ]] || echo "$name"
  done
}

# The outputs that the program pairs with an input of the same name (the units), as it lists them with the
# MIDI service that the line names; $1 is what the name starts with, as typed.
_vexa_ports() {
  local program=${COMP_WORDS[0]} midi="" i line name typed=${1//\\/}
  typed=${typed#[\"\']}
  [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
  for ((i = 1; i < COMP_CWORD; i++)); do
    [[ ${COMP_WORDS[i]} == --midi ]] || continue
    midi=${COMP_WORDS[i + 1]:-}
    [[ $midi == = ]] && midi=${COMP_WORDS[i + 2]:-}
  done
  while IFS= read -r line; do
    [[ $line =~ ^\ +[0-9]+:\ (.*)\ \ \(paired\ with ]] || continue
    name=${BASH_REMATCH[1]}
    [[ $name == "$typed"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
  done < <("$program" ${midi:+--midi "$midi"} $listing 2>/dev/null)
}
