#!/usr/bin/env bash
# Checks the bash completion in a real interactive bash, in tmux: types the
# words, presses Tab, and reads what the line became (or what bash listed).
# usage: tests/completion_test.sh [COMPLETION_FILE]   (needs tmux and bash-completion)
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
helpers=/usr/share/bash-completion/bash_completion
command -v tmux >/dev/null && [ -f "$helpers" ] ||
    { echo "needs tmux and bash-completion"; exit 1; }
socket=veldconf-completion-$$
t() { tmux -L "$socket" "$@"; }
trap 't kill-server 2>/dev/null' EXIT
t -f /dev/null new-session -d -x 200 -y 50 "env -i HOME=/tmp TERM=xterm PATH=/usr/bin:/bin bash --norc --noprofile -i"
t send-keys -l "source $helpers; source $(realpath "${1:-$here/completions/veldconf}"); PS1='$ '; cd /"
t send-keys Enter
sleep 0.5
passed=0 failed=0
# check WANT KEYS...: each key is text typed as it is, or Tab. WANT is the
# last line of the screen afterwards (with | where the cursor was), or with "list: " a line bash listed.
# Waits until the screen's text is PATTERN (a glob) after blank lines go.
settle() {
    local tries
    for ((tries = 0; tries < 200; tries++)); do
        screen=$(t capture-pane -p)
        [[ $(grep -v '^$' <<<"$screen" | tail -n 1) == $1 ]] &&
            { [ "$1" != '$' ] || [ "$(grep -vc '^$' <<<"$screen")" = 1 ]; } && return
        sleep 0.02
    done
}
check() {
    local want=$1 key screen line tries
    shift
    t send-keys C-c; t send-keys -l "clear"; t send-keys Enter
    settle '$'  # the keys go to a clean line, not to clear's
    for key in "$@"; do
        if [ "$key" = Tab ]; then t send-keys Tab; else t send-keys -l "$key"; fi
    done
    # Readline takes the keys in order, so once the | shows, all are done.
    t send-keys -l "|"
    settle '*|'
    line=$(grep -v '^$' <<<"$screen" | tail -n 1)
    if [[ $want == list:* ]]; then
        grep -qxF -- "${want#list: }" <<<"$(sed 's/  */ /g; s/ *$//' <<<"$screen")" && line=$want
    fi
    if [ "$line" = "$want" ]; then passed=$((passed + 1))
    else failed=$((failed + 1)); printf 'FAIL %s: got %q, want %q\n' "$*" "$line" "$want"; fi
}
# --bl offers the three block options; each takes its value attached.
check '$ veldconf --block1=5|' 'veldconf --bl' Tab 1 Tab 5
check 'list: --block1= --block2= --block2th=' 'veldconf --bl' Tab Tab Tab
check 'list: 0 1 2 3 4 5 6' 'veldconf --block1=' Tab Tab
check '$ veldconf --block2th=2 |' 'veldconf --block2th=2' Tab
check 'list: 0 1' 'veldconf --boot=' Tab Tab
check '$ veldconf --boot=1 |' 'veldconf --bo' Tab 1 Tab
check '$ veldconf --keep_alive=|' 'veldconf --k' Tab
check '$ veldconf -b 1 |' 'veldconf -b ' Tab Tab 1 Tab
check 'list: 0 1 2' 'veldconf -x ' Tab Tab
check '$ veldconf -i coaps://192|' 'veldconf -i coaps' Tab 192
check '$ veldconf -p |' 'veldconf -p ' Tab
check '$ veldconf --help |' 'veldconf --he' Tab
check '$ veldconf-decode --json |' 'veldconf-decode --j' Tab
check '$ veldconf-send --ep-name |' 'veldconf-send --ep' Tab
check '$ veldconf-send --baud=115200 |' 'veldconf-send --bau' Tab 11 Tab
check '$ veldconf-send --rtscts /dev/ttyS0 /dev/null |' 'veldconf-send --rtscts /dev/ttyS0 /dev/nul' Tab
check '$ veldconf-provision --log-dir=|' 'veldconf-provision --log' Tab
check '$ veldconf-provision --operator=|' 'veldconf-provision --op' Tab
check '$ veldconf-provision /dev/ttyS0 -- --block2th=|' 'veldconf-provision /dev/ttyS0 -- --block2t' Tab
check 'list: 0 1' 'veldconf-provision /dev/ttyS0 -- -b ' Tab Tab
# veldconf-ledger: its commands, then each command's own options.
check '$ veldconf-ledger status |' 'veldconf-ledger st' Tab
check 'list: export init lot status sync' 'veldconf-ledger --ledger=x ' Tab Tab
check '$ veldconf-ledger export --csv |' 'veldconf-ledger export --c' Tab
check '$ veldconf-ledger init --station-role=|' 'veldconf-ledger init --st' Tab
check '$ veldconf-ledger sync --lot=|' 'veldconf-ledger sync --lo' Tab
[ -c /dev/ttyS0 ] && check '$ veldconf-send --quiet /dev/ttyS0 |' 'veldconf-send --quiet /dev/ttyS0' Tab
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
