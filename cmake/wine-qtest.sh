#!/bin/sh
# wine-qtest.sh WINE-WRAPPER TEST.exe [ARGS...]
# Runs a Qt Test program under Wine and prints its report. Without a console
# window Qt Test on Windows writes its report to the debugger, so it goes to a
# file here and is printed from there, from the ANSI code page (932) to UTF-8.
wine=$1 exe=$2
shift 2
log=$(mktemp "${TMPDIR:-/tmp}/qtest.XXXXXX")
status=0
"$wine" "$exe" -o "Z:$(printf '%s' "$log" | tr / '\\'),txt" "$@" || status=$?
iconv -f CP932 -t UTF-8 "$log" 2>/dev/null || cat "$log"
rm -f "$log"
exit $status
