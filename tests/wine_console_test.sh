#!/bin/sh
# Runs block2gci.exe under Wine with a pseudo-terminal as its console (Wine
# makes one of a terminal) and checks that the log lines show a path with
# accents and a control point name in Greek as they are, and that "/?"
# prints the help there.
#   wine_console_test.sh EMULATOR EXE EXAMPLE_BLOCK
# Exits with 77 (skipped) when no such console can be made: `script` is
# missing, or Wine's own cmd shows no Greek on the terminal either.
set -u
emulator=$1
exe=$2
example=$3

if ! command -v script >/dev/null 2>&1; then
  echo "skipped: script (util-linux) is not installed"
  exit 77
fi
# Wine writes the console to the terminal in the encoding of the locale.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# `$1` quoted for sh.
quote() { printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")"; }

# Runs the command line `$1` in $work on a terminal of its own, never longer
# than a minute; the terminal's text goes to $work/console.txt, a move one
# column on as a blank, without the other control sequences and carriage
# returns. Wine wraps the terminal at 80 columns: the lines checked are
# shorter. Returns the command's status.
on_console() {
  (cd "$work" && timeout 60 script -qec "$1" /dev/null </dev/null >"$work/raw")
  status=$?
  sed -e 's/\x1b\[1\{0,1\}C/ /g' -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' "$work/raw" | tr -d '\r' >"$work/console.txt"
  return $status
}

# Expects the line `$1` on the console.
shows() {
  if ! grep -Fqx -- "$1" "$work/console.txt"; then
    echo "FAILED: the console does not show: $1"
    echo "It shows:"
    cat "$work/console.txt"
    failed=1
  fi
}

greek=$(printf '\316\221\316\273\317\206\316\261')  # Alpha lambda phi alpha
on_console "$(quote "$emulator") cmd /c echo $greek"
if ! grep -Fqx -- "$greek" "$work/console.txt"; then
  echo "skipped: Wine shows no console on a pseudo-terminal here"
  exit 77
fi

failed=0
folder="Vermessung M$(printf '\303\274')ller/Bl$(printf '\303\266')cke"
mkdir -p "$work/$folder"
sed "s|<Name>GCP_01</Name>|<Name>$greek 1</Name>|" "$example" >"$work/$folder/block.xml"
on_console "$(quote "$emulator") $(quote "$exe") $(quote "$folder/block.xml")" || {
  echo "FAILED: block2gci.exe ended with status $?"
  failed=1
}
shows "filePath: \"$folder/block.xml\""
shows "Warning: control point \"$greek 1\" has blanks in its name"

on_console "$(quote "$emulator") $(quote "$exe") $(quote "/?")" || {
  echo "FAILED: block2gci.exe /? ended with status $?"
  failed=1
}
shows "Usage: block2gci BLOCK.xml"

[ $failed -eq 0 ] && echo "The console shows every character of the log lines and the help"
exit $failed
