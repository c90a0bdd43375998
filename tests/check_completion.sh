#!/bin/bash
# The completion offers the two actions, for the first argument only.
# Usage: check_completion.sh COMPLETION_FILE
set -u
source "$1"
failed=0
expect() {
    local words=$1 expected=$2
    read -r -a COMP_WORDS <<< "$words"
    [[ $words == *" " ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    _fifo_client_1
    local got="${COMPREPLY[*]}"
    if [[ $got != "$expected" ]]; then
        echo "FAIL: '$words' offers '$got', not '$expected'"
        failed=1
    fi
}
expect "fifo_client_1 " "resume_music stop_music"
expect "fifo_client_1 re" "resume_music"
expect "fifo_client_1 st" "stop_music"
expect "fifo_client_1 x" ""
expect "fifo_client_1 resume_music " ""
expect "fifo_client_1 resume_music s" ""
[[ $(complete -p fifo_client_1) == *"-F _fifo_client_1"* ]] || { echo "FAIL: not registered"; failed=1; }
[[ $failed -eq 0 ]] && echo "ok: completion"
exit $failed
