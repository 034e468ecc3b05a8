# Reads a program's --help and prints what its completion offers, one record a line:
#   option NAME KIND     KIND: flag, files, ports, any, or words:A|B|C
#   command NAME KIND    KIND: what follows the sub-command: names, assignments, files or options
#   setting NAME KIND    KIND: switch (on or off) or value
# An entry is a line indented by one to four blanks, its head running to the first gap of two blanks; a
# paragraph that starts in the first column is a heading, and the entries below it are its list. The
# values of an option are "A|B|C" after it (in its entry or the usage line), or the list that its text
# points to ("see MIDI services").
function kind_of_value(option, placeholder) {
  if (placeholder == "") return "flag"
  if (placeholder ~ /\|/) return "words:" placeholder
  if (placeholder ~ /FILE/) return "files"
  if (option == "--port") return "ports"
  return "any"
}
function head_of(line,    head) {
  head = line
  sub(/^[ \t]+/, "", head)
  sub(/[ \t][ \t].*$/, "", head)
  return head
}
function text_of(line) {
  sub(/^[ \t]+[^ \t]+([ \t][^ \t]+)*[ \t][ \t]+/, "", line)
  return line
}
/^[Uu]sage:/ {
  rest = $0
  while (match(rest, /--[a-z0-9-]+[ =][a-z0-9.-]+(\|[a-z0-9.-]+)+/)) {
    split(substr(rest, RSTART, RLENGTH), part, /[ =]/)
    usage[part[1]] = part[2]
    rest = substr(rest, RSTART + RLENGTH)
  }
  next
}
/^[ \t]*$/ { blank = 1; next }
/^[^ \t]/ {
  if (blank) section = tolower($0)
  else section = section " " tolower($0)
  blank = 0
  next
}
/^  ? ? ?[^ ]/ {
  blank = 0
  head = head_of($0)
  count = split(head, token, /[ ,=]+/)
  if (token[1] ~ /^-/) {
    placeholder = ""
    for (i = 1; i <= count; i++) if (token[i] !~ /^-/) { placeholder = token[i]; break }
    text = text_of($0)
    if (placeholder ~ /^[A-Z]+$/ && match(text, /[a-z0-9.-]+(\|[a-z0-9.-]+)+/)) placeholder = substr(text, RSTART, RLENGTH)
    for (i = 1; i <= count; i++) {
      if (token[i] !~ /^-/) continue
      options[++option_count] = token[i]
      kind[token[i]] = kind_of_value(token[i], placeholder)
      if (match(text, /see [A-Za-z][A-Za-z ]*[A-Za-z]/)) see[token[i]] = tolower(substr(text, RSTART + 4, RLENGTH - 4))
    }
  } else if (token[1] ~ /^[a-z][a-z0-9-]*$/) {
    list[section] = list[section] " " token[1]
    if (section ~ /^command/) {
      argument = head
      sub(/^[^ ]+ */, "", argument)
      gsub(/[][.]/, "", argument)
      if (argument ~ /^[A-Z]+=[A-Z]+/) what = "assignments"
      else if (argument ~ /^FILE/) what = "files"
      else if (argument ~ /^NAME/) what = "names"
      else what = "options"
      print "command", token[1], what
    } else if (section ~ /^setting/) {
      print "setting", token[1], ($0 ~ /on\|off|on\/off|on or off/ ? "switch" : "value")
    }
  }
  next
}
{ blank = 0 }
END {
  for (i = 1; i <= option_count; i++) {
    option = options[i]
    what = kind[option]
    if (what == "any" && usage[option] != "") what = "words:" usage[option]
    if (what == "any" && see[option] != "") {
      for (heading in list) {
        if (index(heading, see[option]) != 1) continue
        words = substr(list[heading], 2)
        gsub(/ /, "|", words)
        what = "words:" words
      }
    }
    print "option", option, what
  }
}
