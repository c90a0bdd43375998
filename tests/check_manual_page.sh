#!/bin/sh
# The manual page renders without a warning, passes mandoc's lint, and has
# its sections. Usage: check_manual_page.sh PAGE
set -u
page=$1
errors=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$errors" ] || { echo "FAIL: man warns: $errors"; exit 1; }
lint=$(mandoc -Tlint "$page" 2>&1)
[ -z "$lint" ] || { echo "FAIL: mandoc -Tlint: $lint"; exit 1; }
text=$(MANWIDTH=80 man -l "$page" 2>/dev/null)
for section in NAME SYNOPSIS DESCRIPTION "EXIT STATUS" FILES NOTES; do
    echo "$text" | grep -qx "$section" || { echo "FAIL: no $section section"; exit 1; }
done
for word in resume_music stop_music 0x31 0x30 morvelin.fifo; do
    echo "$text" | grep -q "$word" || { echo "FAIL: $word not mentioned"; exit 1; }
done
echo "ok: $page"
