# Reads a program's --help and prints what its completion offers, one record a line:
#   option NAME KIND     KIND: flag, files, ports, any, or words:A|B|C
#   command NAME KIND    KIND: what follows the sub-command: names, assignments, files or options
#   setting NAME KIND    KIND: switch (on or off) or value
# An entry is a line indented by one to four blanks, its head running to the first gap of two blanks; a
# heading starts in the first column and ends with a colon. Values of an option are "A|B|C" after it in an
# entry or in the usage line.
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
/^[Uu]sage:/ {
  rest = $0
  while (match(rest, /--[a-z0-9-]+[ =][a-z0-9.-]+(\|[a-z0-9.-]+)+/)) {
    split(substr(rest, RSTART, RLENGTH), part, /[ =]/)
    print "usage", part[1], part[2]
    rest = substr(rest, RSTART + RLENGTH)
  }
  next
}
/^[^ \t].*:[ \t]*$/ { section = tolower($0); next }
/^  ? ? ?[^ ]/ {
  head = head_of($0)
  count = split(head, token, /[ ,=]+/)
  if (token[1] ~ /^-/) {
    placeholder = ""
    for (i = 1; i <= count; i++) if (token[i] !~ /^-/) { placeholder = token[i]; break }
    for (i = 1; i <= count; i++) if (token[i] ~ /^-/) print "option", token[i], kind_of_value(token[i], placeholder)
  } else if (section ~ /command/ && token[1] ~ /^[a-z][a-z0-9-]*$/) {
    argument = head
    sub(/^[^ ]+ */, "", argument)
    gsub(/[][.]/, "", argument)
    if (argument ~ /^[A-Z]+=[A-Z]+/) kind = "assignments"
    else if (argument ~ /^FILE/) kind = "files"
    else if (argument ~ /^NAME/) kind = "names"
    else kind = "options"
    print "command", token[1], kind
  } else if (section ~ /setting/ && token[1] ~ /^[a-z][a-z0-9-]*$/) {
    print "setting", token[1], ($0 ~ /on\|off|on\/off|on or off/ ? "switch" : "value")
  }
}
