#!/bin/sh
# Writes the manual page vorninst(1) from the built program's own --help,
# --version and each command's --help, so that the page says what the
# program says. The sections the help has no room for (root, files,
# examples) come from EXTRA, a piece of roff.
#   make_man.sh PROGRAM EXTRA OUTPUT
set -eu
program=$1 extra=$2 output=$3

version=$("$program" --version | sed -n '1s/^vorninst Version //p')
[ -n "$version" ] || { echo "make_man.sh: $program --version says no version" >&2; exit 1; }
help=$("$program" --help)
commands=$(printf '%s\n' "$help" | awk '
  /^[^ ].*:$/ { in_commands = /^Commands/ ; next }
  in_commands && /^  [a-z]/ { print $1 }')
[ -n "$commands" ] || { echo "make_man.sh: $program --help lists no command" >&2; exit 1; }

# Text as roff: backslashes and a leading dot or quote kept literal, option
# dashes as minus signs.
roff() {
  sed -e 's/\\/\\e/g' -e 's/^\([.'"'"']\)/\\\&\1/' -e 's/\(^\|[[ (|]\)--/\1\\-\\-/g'
}

# The program's --help in parts: SYNOPSIS (the usage lines), DESCRIPTION
# (the paragraphs before the first heading), OPTIONS (the "Options:" block
# and the paragraphs after it) and EXIT STATUS (the paragraph that starts
# with "Exit status:"); PARTS says which to print.
help_parts() {
  printf '%s\n' "$help" | roff | awk -v parts="$1" '
    function put(line) { if (index(parts, part)) print line }
    function flush() { if (text != "") put(text); text = "" }
    NR == 1 { part = "synopsis"; sub(/^Usage: /, ""); put(".SH SYNOPSIS\n.nf\n" $0); next }
    part == "synopsis" && /^ +vorninst / { sub(/^ +/, ""); put($0); next }
    part == "synopsis" && /^$/ { put(".fi"); part = "description"; put(".SH DESCRIPTION"); next }
    /^Exit status:/ { flush(); part = "exit"; put(".SH EXIT STATUS"); sub(/^Exit status: */, "") }
    /^[^ ].*:$/ { flush(); part = /^Options/ ? "options" : "skip"; put(".SH OPTIONS"); next }
    part == "skip" { next }
    /^$/ { flush(); put(".PP"); next }
    part == "options" && /^  [^ ]/ {
      flush(); sub(/^  /, ""); split($0, cells, /   +/)
      put(".TP\n.B " cells[1]); text = substr($0, length(cells[1]) + 1); sub(/^ +/, "", text); next }
    part == "options" && /^[^ ]/ && !after { flush(); put(".PP"); after = 1 }
    { sub(/^ +/, ""); text = text == "" ? $0 : text " " $0 }
    END { flush() }'
}

{
  printf '.TH VORNINST 1 "" "vorninst %s" "User Commands"\n' "$version"
  printf '.SH NAME\nvorninst \\- prepare an SD card so that the camera starts the VORN \\%%add-on\n'
  help_parts synopsis,description
  # COMMANDS: each command with its own options, what it does and its exit
  # status, as its --help says.
  printf '.SH COMMANDS\n'
  for command in $commands; do
    "$program" "$command" --help | roff | awk '
      function flush() { if (text != "") print text; text = "" }
      NR == 1 || (!started && /^ /) { sub(/^ +/, ""); usage = usage == "" ? $0 : usage " " $0; next }
      !started {
        sub(/.*\\-\\-addon DIR\] /, "", usage); name = usage; sub(/ .*/, "", name)
        print ".TP\n\\fB" name "\\fR" substr(usage, length(name) + 1); started = 1; next }
      /^$/ { flush(); print ".IP"; next }
      { text = text == "" ? $0 : text " " $0 }
      END { flush() }'
  done
  help_parts options,exit
  cat "$extra"
} >"$output.new"
mv "$output.new" "$output"
