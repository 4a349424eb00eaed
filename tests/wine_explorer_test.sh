#!/bin/sh
# What Wine can show of the window that stays open for Explorer's users:
#   wine_explorer_test.sh EMULATOR EXE LAUNCHER EXAMPLE_BLOCK
# LAUNCHER (explorer_launcher.exe) starts block2gci.exe as Explorer does, in
# a console of its own; a copy of it named explorer.exe stands in for
# Explorer, since Wine has no Explorer that drops files onto programs.
# - started by "explorer.exe" with a block: the log, then the request for a
#   key; it waits, and a key ends it with the run's status;
# - started by "explorer.exe" without argument: the usage, the line on how
#   to use it from Explorer, the request, the wait;
# - started in the same way by any other program (as `start` does): it
#   ends by itself;
# - run by cmd /c, and with its streams on pipes: it ends by itself and
#   writes no request.
# Wine makes the new console with a window, which needs a graphics driver:
# scripts/test-windows gives the prefix Wine's null driver (windows that are
# never shown) before its server starts; set here too, it counts from the
# server's next start.
set -u
emulator=$1
exe=$2
launcher=$3
example=$4
prompt="Press any key to close this window."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
  echo "FAILED: $*"
  failed=1
}

"$emulator" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1
mkdir "$work/Explorer" "$work/Other" "$work/data"
cp "$launcher" "$work/Explorer/explorer.exe"
cp "$launcher" "$work/Other/launcher.exe"
windows_path() { "$emulator" winepath -w "$1" </dev/null 2>/dev/null | tr -d '\r'; }
exe_w=$(windows_path "$exe")
block_w=$(windows_path "$work/data")\\block.xml

# Starts `$2` by the launcher `$1` with the evidence file `$3`; the report
# lands in $work/report.txt.
launch() {
  rm -f "$work/report.txt"
  (cd "$work" && "$emulator" "$1" report.txt "$3" "$2" </dev/null >/dev/null 2>&1)
  tr -d '\r' <"$work/report.txt" >"$work/report" 2>/dev/null || : >"$work/report"
}
reports() {
  if ! grep -Fqx -- "$1" "$work/report"; then
    fail "$2: the report lacks: $1"
    echo "It reads:"
    cat "$work/report"
  fi
}

cp "$example" "$work/data/block.xml"
launch Explorer/explorer.exe "\"$exe_w\" \"$block_w\"" 'data\block.gci'
# The window is as wide as Wine makes it: the lines with a path are known
# by their start.
for start in 'filePath: ' 'Generate file:  ' 'Written: '; do
  grep -q "^$start" "$work/report" || fail "dropped onto it: no line starting with $start"
done
reports "$prompt" "dropped onto it"
reports "waiting for a key" "dropped onto it"
reports "ended after a key with status 0" "dropped onto it"
cmp -s "$work/data/block.gci" "$(dirname "$example")/block.gci" || fail "dropped onto it: the GCI file differs"

launch Explorer/explorer.exe "\"$exe_w\"" -
reports "Parameters: szXmlPath" "double-clicked"
reports "Drag a block file onto block2gci.exe to convert it, or run it from a console." "double-clicked"
reports "$prompt" "double-clicked"
reports "ended after a key with status 0" "double-clicked"

rm -f "$work/data/block.gci"
launch Other/launcher.exe "\"$exe_w\" \"$block_w\"" -
reports "ended by itself with status 0" "started in a new console by another program"
[ -f "$work/data/block.gci" ] || fail "started by another program: no GCI file"

# A wait here would hold the run until `timeout` ends it.
(cd "$work/data" && timeout 120 "$emulator" cmd /c "$exe_w" block.xml </dev/null >"$work/out" 2>&1) ||
  fail "cmd /c: status $?"
grep -Fq "Generate file:" "$work/out" || fail "cmd /c: no log"
! grep -Fq "$prompt" "$work/out" || fail "cmd /c: the request for a key"
(cd "$work/data" && echo | { timeout 120 "$emulator" "$exe" block.xml 2>&1; echo "status $?"; } | cat >"$work/out")
grep -Fqx "status 0" "$work/out" || fail "pipes: $(tail -n 1 "$work/out")"
grep -Fq "Generate file:" "$work/out" || fail "pipes: no log"
! grep -Fq "$prompt" "$work/out" || fail "pipes: the request for a key"

[ $failed -eq 0 ] && echo "Started as Explorer starts it, block2gci.exe waits for a key; started otherwise, it never does"
exit $failed
