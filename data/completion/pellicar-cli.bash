# bash completion for pellicar-cli.
#
# Commands, options and the values they take are read from the tool's own
# help ('pellicar-cli --help', 'pellicar-cli COMMAND --help'), so completion
# follows the installed tool. Serial ports, print queues and code pages come
# from its lists; printer devices (/dev/usb/lp*) and files from the disk.

# Reads a help text on standard input and prints what completion needs, one
# item a line, fields separated by tabs:
#   cmd NAME              a command (from the COMMAND list of the tool's help)
#   opt OPTION VALUE      an option and the value it takes ("" for none)
#   pos N SHAPE           what the N-th word after the command is
# $1 is the command whose help this is, empty for the tool's help.
_pellicar_cli_parse() {
  awk -v command="$1" '
    # Options of a synopsis or of the left column of an option line:
    # "--baud RATE", "[--parity none|odd|even]", "--cipher tkip|aes".
    function options(text, withPositionals,    n, w, i, t, value, pos) {
      n = split(text, w, / +/)
      pos = 0
      for (i = 1; i <= n; i++) {
        t = w[i]
        if (t ~ /^\[?--?[a-z]/) {
          sub(/^\[/, "", t)
          value = ""
          if (t !~ /\]$/ && i < n && w[i + 1] !~ /^[-[|]/) {
            value = w[++i]
          }
          sub(/\]$/, "", t)
          sub(/\]$/, "", value)
          printf "opt\t%s\t%s\n", t, value
        } else if (withPositionals && t !~ /^[[|]/ && t != "") {
          printf "pos\t%d\t%s\n", ++pos, t
        }
      }
    }
    /^COMMAND:/ { inCommands = (command == ""); next }
    inCommands && /^$/ { inCommands = 0; next }
    inCommands {
      if (match($0, /^  [a-z][a-z-]*/))
        printf "cmd\t%s\n", substr($0, 3, RLENGTH - 2)
      next
    }
    /^ *(Usage: +)?pellicar-cli / {
      if (command == "")
        next
      line = $0
      sub(/^ *(Usage: +)?pellicar-cli +/, "", line)
      at = index(" " line " ", " " command " ")
      if (at > 0)
        options(substr(line, at + length(command) + 1), 1)
      next
    }
    /^ +-/ {
      line = $0
      sub(/^ +/, "", line)
      sub(/  +.*$/, "", line)
      options(line, 0)
    }
  '
}

# Prints the words of $2.. (one a line) that start with $1, letter case
# ignored.
_pellicar_cli_match() {
  local prefix=${1,,} word
  shift
  for word in "$@"; do
    [[ ${word,,} == "$prefix"* ]] && printf '%s\n' "$word"
  done
}

# Completes the value of a placeholder or a list of choices.
_pellicar_cli_value() {
  local tool=$1 option=$2 shape=$3 cur=$4
  local IFS=$'\n'
  local -a words
  case $option:$shape in
  --codepage:*)
    words=($("$tool" list codepages 2>/dev/null | cut -f2))
    ;;
  --queue:*)
    words=($("$tool" --timeout 2 list printers 2>/dev/null))
    ;;
  --serial:* | *:DEVICE)
    words=($("$tool" list ports 2>/dev/null))
    ;;
  --baud:RATE)
    # The serial line's speeds, as the tool's help lists them.
    words=($("$tool" --help 2>/dev/null | tr '\n' ' ' |
      sed -n 's/.*RATE is \([0-9, or]*\).*/\1/p' | grep -o '[0-9]\+'))
    ;;
  --output:* | *:FILE | *:FILE.*)
    local extension=
    [[ $shape == FILE.* ]] && extension=${shape#FILE.} && extension=${extension%...}
    if [[ $option == --output ]]; then
      words=(/dev/usb/lp*)
      [[ -e ${words[0]} ]] || words=()
    fi
    compopt -o filenames 2>/dev/null
    if [[ -n $extension ]]; then
      COMPREPLY+=($(compgen -d -- "$cur") $(compgen -f -X "!*.$extension" -- "$cur"))
    else
      COMPREPLY+=($(compgen -f -- "$cur"))
    fi
    ;;
  *)
    # Choices are lower-case words separated by "|"; upper-case words
    # (SSID, KEY, MM, A.B.C.D) are for the user to type.
    if [[ $shape == *"|"* ]]; then
      local choice
      IFS='|' read -ra words <<<"$shape"
      for choice in "${words[@]}"; do
        [[ $choice =~ [A-Z] ]] && words=() && break
      done
    fi
    ;;
  esac
  compopt -o filenames 2>/dev/null
  COMPREPLY+=($(_pellicar_cli_match "$cur" "${words[@]}"))
}

_pellicar_cli() {
  local tool=${COMP_WORDS[0]}
  local cur=${COMP_WORDS[COMP_CWORD]}
  local IFS=$'\n'
  COMPREPLY=()
  # A word as typed may start with a quote or hold backslashes.
  cur=${cur#[\"\']}
  cur=${cur//\\/}

  local global
  global=$("$tool" --help 2>/dev/null | _pellicar_cli_parse "") || return 0

  # Walk the words before the cursor: options with their values, the
  # command, then the command's own words. HOST:PORT arrives split at the
  # colon; the pieces are put back together.
  local -a words=()
  local i
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ ${COMP_WORDS[i]} == : && ${#words[@]} -gt 0 ]]; then
      words[-1]+=:
      ((i + 1 < COMP_CWORD)) && words[-1]+=${COMP_WORDS[++i]}
    else
      words+=("${COMP_WORDS[i]}")
    fi
  done

  local command= known=$global positional=0 pending= word value
  for word in "${words[@]}"; do
    if [[ -n $pending ]]; then
      pending=
    elif [[ $word == -* ]]; then
      value=$(awk -F'\t' -v o="$word" '$1 == "opt" && $2 == o { print $3; exit }' <<<"$known")
      [[ -n $value ]] && pending=$word
    elif [[ -z $command ]]; then
      command=$word
      known=$("$tool" "$command" --help 2>/dev/null | _pellicar_cli_parse "$command")
    else
      ((positional++))
    fi
  done

  if [[ -n $pending ]]; then
    value=$(awk -F'\t' -v o="$pending" '$1 == "opt" && $2 == o { print $3; exit }' <<<"$known")
    _pellicar_cli_value "$tool" "$pending" "$value" "$cur"
    return 0
  fi

  if [[ $cur == -* ]]; then
    local -a options=($(awk -F'\t' '$1 == "opt" && !seen[$2]++ { print $2 }' <<<"$known"))
    [[ -n $command ]] && options+=(--help)
    COMPREPLY=($(_pellicar_cli_match "$cur" "${options[@]}"))
    return 0
  fi

  if [[ -z $command ]]; then
    local -a commands=($(awk -F'\t' '$1 == "cmd" && !seen[$2]++ { print $2 }' <<<"$global"))
    COMPREPLY=($(_pellicar_cli_match "$cur" "${commands[@]}"))
    return 0
  fi

  # The command's next word: the union of what its synopses allow at that
  # place; a shape ending in "..." repeats.
  local n shape
  while IFS=$'\t' read -r _ n shape; do
    if ((n == positional + 1)) || { [[ $shape == *... ]] && ((n <= positional + 1)); }; then
      _pellicar_cli_value "$tool" "" "$shape" "$cur"
    fi
  done < <(awk -F'\t' '$1 == "pos"' <<<"$known")
  return 0
}

complete -F _pellicar_cli pellicar-cli
