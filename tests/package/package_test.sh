#!/usr/bin/env bash
# What an installation holds, checked from a staged `cmake --install` and
# from the Debian package:
#   package_test.sh BUILD_DIR VERSION PROGRAM...
# Checks that the machine cannot run are skipped with their reason; any
# failed check fails the test.
set -uo pipefail

build=$1
version=$2
shift 2
programs=("$@")
id=org.pellicar.Pellicar

work=$(mktemp -d /tmp/pellicar-package-test.XXXXXX)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
skip() { echo "SKIP: $*"; }
have() { command -v "$1" >/dev/null; }

# The files an installation under PREFIX must hold, and nothing else.
expected_files() {
  local prefix=$1 program
  {
    for program in "${programs[@]}"; do
      echo "$prefix/bin/$program"
      echo "$prefix/share/man/man1/$program.1.gz"
    done
    echo "$prefix/share/applications/$id.desktop"
    echo "$prefix/share/metainfo/$id.metainfo.xml"
    echo "$prefix/share/icons/hicolor/scalable/apps/$id.svg"
    echo "$prefix/share/icons/hicolor/48x48/apps/$id.png"
    echo "$prefix/share/icons/hicolor/256x256/apps/$id.png"
    echo "$prefix/share/bash-completion/completions/pellicar-cli"
  } | sort
}

# Width and height of a PNG, from its header.
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d\n", $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8 }'
}

# --- a staged installation -------------------------------------------------
stage=$work/stage
prefix=/usr/local
if ! DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  fail "cmake --install into a staging folder"
  exit 1
fi
root=$stage$prefix

diff <(expected_files "$prefix") <(cd "$stage" && find . -type f -o -type l | sed 's|^\.||' | sort) \
  >"$work/files.diff" || { cat "$work/files.diff"; fail "the installed files (- missing, + unexpected)"; }

for size in 48 256; do
  got=$(png_size "$root/share/icons/hicolor/${size}x${size}/apps/$id.png")
  [[ $got == "${size}x${size}" ]] || fail "the ${size} px icon is $got"
done

# Every program answers --version and --help on standard output, without a
# display: the window too, which must not open.
for program in "${programs[@]}"; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$root/bin/$program" --version 2>"$work/err")
  status=$?
  [[ $status -eq 0 && $out == "$program $version" && ! -s $work/err ]] ||
    fail "$program --version: status $status, '$out', $(cat "$work/err")"
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 "$root/bin/$program" --help 2>"$work/err")
  status=$?
  [[ $status -eq 0 && $out == "Usage: $program"* && ! -s $work/err ]] ||
    fail "$program --help: status $status, $(head -1 <<<"$out"), $(cat "$work/err")"
done
# The window refuses what it does not know, after the toolkit took its own.
QT_QPA_PLATFORM=offscreen timeout 10 "$root/bin/pellicar" -platform offscreen --frob >/dev/null 2>"$work/err"
status=$?
[[ $status -eq 2 ]] && grep -q "unknown argument '--frob'" "$work/err" ||
  fail "pellicar --frob: status $status, $(cat "$work/err")"

desktop=$root/share/applications/$id.desktop
if have desktop-file-validate; then
  out=$(desktop-file-validate "$desktop" 2>&1) && [[ -z $out ]] || fail "desktop-file-validate: $out"
else
  skip "desktop-file-validate is not installed (desktop-file-utils)"
fi
grep -qx "Icon=$id" "$desktop" || fail "the menu entry's icon is not $id"
exec_program=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop")
[[ -x $root/bin/$exec_program ]] || fail "the menu entry starts '$exec_program', which is not installed"

metainfo=$root/share/metainfo/$id.metainfo.xml
if have appstreamcli; then
  out=$(appstreamcli validate --no-net "$metainfo" 2>&1)
  status=$?
  [[ $status -eq 0 ]] && ! grep -q '^[EW]:' <<<"$out" || fail "appstreamcli validate: $out"
else
  skip "appstreamcli is not installed (appstream)"
fi
for program in "${programs[@]}"; do
  grep -q "<binary>$program</binary>" "$metainfo" || fail "the metadata does not provide $program"
done
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata has no release $version"

# Manual pages: clean under groff's warnings and man's, with exit statuses
# and examples, and every option of --help (and, for pellicar-cli, every
# command with its options) in the text.
if have groff; then
  for program in "${programs[@]}"; do
    page=$root/share/man/man1/$program.1.gz
    text=$(zcat "$page" | groff -ww -man -Tutf8 -rLL=80n -P-cbou 2>"$work/err")
    [[ ! -s $work/err ]] || fail "groff -ww on $program.1: $(cat "$work/err")"
    if have man; then
      warnings=$(MANWIDTH=80 man -l "$page" 2>&1 >/dev/null)
      [[ -z $warnings ]] || fail "man -l $program.1: $warnings"
    fi
    for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" EXAMPLES; do
      grep -q "^$section" <<<"$text" || fail "$program.1 has no $section section"
    done
    helps=("--help")
    if [[ $program == pellicar-cli ]]; then
      for command in $("$root/bin/$program" --help | sed -n '/^COMMAND:/,/^$/s/^  \([a-z][a-z-]*\).*/\1/p' | sort -u); do
        grep -q "^   $command$" <<<"$text" || fail "$program.1 has no section on $command"
        helps+=("$command --help")
      done
    fi
    for help in "${helps[@]}"; do
      for option in $($root/bin/$program $help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -q -- "$option" <<<"$text" || fail "$program.1 does not mention $option ($help)"
      done
    done
  done
else
  skip "groff is not installed (groff-base)"
fi

# bash completion of pellicar-cli, with the staged tool first on the PATH:
# WORDS... (the last is the word being completed) -> a candidate that must be
# offered (or "!CANDIDATE": one that must not).
mkdir -p "$work/files/logos"
touch "$work/files/shop.bmp" "$work/files/notes.txt"
ports=$("$root/bin/pellicar-cli" list ports | head -1)
completion_cases=(
  "|base"
  "|check-firmware"
  "|list"
  "--|--tcp"
  "--|--version"
  "--tcp|127.0.0.1|:|9100|sp|speed"
  "--tcp|127.0.0.1|:|9100|speed||100-full"
  "base|--f|--font"
  "base|--font||c"
  "base|--font||!--font"
  "base|--codepage|cp4|CP437 [U.S.A., Standard Europe]"
  "base|--baud||115200"
  "list||codepages"
  "blackmark||next-cut"
  "blackmark||pitch"
  "blackmark|pitch||!pitch"
  "wifi|--ssid|s|--cipher||aes"
  "wifi|--w|--wpa2"
  "wifi|--|--help"
  "--serial|/dev/null|--baud||57600"
  "--serial|/dev/null|--parity||even"
  "logo||shop.bmp"
  "logo||!notes.txt"
  "logo|shop.bmp||logos/"
  "firmware||!shop.bmp"
  "--output||notes.txt"
)
[[ -n $ports ]] && completion_cases+=("--serial||$ports")
for case in "${completion_cases[@]}"; do
  IFS='|' read -ra words <<<"$case"
  want=${words[-1]}
  unset 'words[-1]'
  offered=$(cd "$work/files" && PATH=$root/bin:$PATH bash -c '
    source "$1"; shift
    COMP_WORDS=(pellicar-cli "$@"); COMP_CWORD=$(($# ))
    _pellicar_cli; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$root/share/bash-completion/completions/pellicar-cli" "${words[@]}" 2>&1)
  if [[ $want == !* ]]; then
    grep -qxF -- "${want#!}" <<<"$offered" && fail "completing '${words[*]}' offers ${want#!}"
  else
    grep -qxF -- "${want%/}" <<<"$offered" || fail "completing '${words[*]}' does not offer $want: $(tr '\n' ' ' <<<"$offered")"
  fi
done

# Print queues: those of a private print server (the tests' sandbox), when
# this machine can run one.
sandbox=$build/tests/pellicar-cups-sandbox
if [[ -x $sandbox ]]; then
  "$sandbox" pkgtestqueue >"$work/sandbox.log" 2>&1 &
  sandbox_pid=$!
  # The server answers within a second or two; 20 s bounds a stuck start.
  for ((i = 0; i < 200; i++)); do
    grep -q 'CUPS_SERVER=' "$work/sandbox.log" && break
    kill -0 "$sandbox_pid" 2>/dev/null || break
    sleep 0.1
  done
  server=$(grep -o 'CUPS_SERVER=[^ ]*' "$work/sandbox.log" | head -1)
  if [[ -n $server ]]; then
    offered=$(env "$server" PATH="$root/bin:$PATH" bash -c '
      source "$1"; COMP_WORDS=(pellicar-cli --queue ""); COMP_CWORD=2
      _pellicar_cli; printf "%s\n" "${COMPREPLY[@]}"' _ \
      "$root/share/bash-completion/completions/pellicar-cli" 2>&1)
    grep -qx pkgtestqueue <<<"$offered" || fail "completing '--queue' does not offer the queue: $offered"
  else
    skip "queue completion: the private print server did not start: $(tail -3 "$work/sandbox.log")"
  fi
  kill "$sandbox_pid" 2>/dev/null
  wait "$sandbox_pid" 2>/dev/null
else
  skip "queue completion: $sandbox is not built"
fi

# --- the Debian package -------------------------------------------------------
if ! have cpack || ! have dpkg-deb || ! have dpkg-shlibdeps; then
  skip "the Debian package: cpack, dpkg-deb or dpkg-shlibdeps (dpkg-dev) is missing"
else
  if (cd "$work" && cpack --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1); then
    deb=$(ls "$work"/deb/pellicar_"$version"_*.deb 2>/dev/null | head -1)
    if [[ -z $deb ]]; then
      fail "cpack made no pellicar_${version}_*.deb: $(ls "$work/deb")"
    else
      diff <(expected_files /usr) <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\.||' | sort) \
        >"$work/deb.diff" || { cat "$work/deb.diff"; fail "the package's files (- missing, + unexpected)"; }
      depends=$(dpkg-deb -f "$deb" Depends)
      for needed in libqt6core6 libqt6widgets6 libcups2 qt6-qpa-plugins fonts-wine fonts-crosextra-carlito fonts-wqy-microhei; do
        grep -q "\b$needed\b" <<<"$depends" || fail "the package's Depends lack $needed: $depends"
      done
      [[ $(dpkg-deb -f "$deb" Version) == "$version" ]] || fail "the package's version is not $version"
      [[ $(dpkg-deb -f "$deb" Maintainer) == *pellicar* ]] || fail "the package's maintainer: $(dpkg-deb -f "$deb" Maintainer)"
      echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes, Depends: $depends"
    fi
  else
    cat "$work/cpack.log"
    fail "cpack"
  fi
fi

if ((failures > 0)); then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
