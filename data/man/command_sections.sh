#!/bin/sh
# Writes the COMMANDS section of pellicar-cli's manual page (a help2man
# include file) from the program itself: the command names from the
# COMMAND list of 'pellicar-cli --help', and for each the text of
# 'pellicar-cli COMMAND --help' in roff: its synopsis, its paragraphs, and
# its indented lists as tagged paragraphs.
#   command_sections.sh path/to/pellicar-cli OUT.h2m
set -eu
cli=$1
out=$2

commands=$("$cli" --help | sed -n '/^COMMAND:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p' | uniq)
[ -n "$commands" ] || { echo "$0: no COMMAND list in '$cli --help'" >&2; exit 1; }

{
  echo "[COMMANDS]"
  for command in $commands; do
    echo ".SS $command"
    "$cli" "$command" --help | awk '
      function roff(s) {
        gsub(/\\/, "\\e", s)
        gsub(/-/, "\\-", s)
        if (s ~ /^[.'\'']/) s = "\\&" s
        return s
      }
      function flush(    i, line, term, text, isTable) {
        if (n == 0) return
        if (p[1] ~ /^Usage:/) {
          print ".nf"
          for (i = 1; i <= n; i++) {
            line = p[i]
            sub(/^(Usage:)? +/, "", line)
            print roff(line)
          }
          print ".fi"
        } else {
          isTable = 1
          for (i = 1; i <= n; i++) if (p[i] !~ /^  /) isTable = 0
          if (isTable) {
            for (i = 1; i <= n; i++) {
              line = p[i]
              if (line ~ /^  [^ ]/) {
                sub(/^  /, "", line)
                term = line; text = ""
                if (match(line, /  +/)) {
                  term = substr(line, 1, RSTART - 1)
                  text = substr(line, RSTART + RLENGTH)
                }
                print ".TP"
                print "\\fB" roff(term) "\\fR"
                if (text != "") print roff(text)
              } else {
                sub(/^ +/, "", line)
                print roff(line)
              }
            }
          } else {
            print ".PP"
            for (i = 1; i <= n; i++) print roff(p[i])
          }
        }
        n = 0
      }
      /^$/ { flush(); next }
      { p[++n] = $0 }
      END { flush() }
    '
  done
} >"$out"
