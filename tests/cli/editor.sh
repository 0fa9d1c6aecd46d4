#!/bin/sh
# The line editor at a terminal: tmux runs lumbra in a pane, send-keys types as a person would
# and capture-pane reads the screen. However lumbra ends, the terminal settings afterwards must
# be those it found.
lumbra=$1
src=$2
command -v tmux > /dev/null 2>&1 || { echo "tmux is missing (scripts/setup.sh installs it)"; exit 77; }
case $lumbra in /*) ;; *) lumbra=$(pwd)/$lumbra ;; esac
tmp=$(mktemp -d)
sock=$tmp/tmux
tm() { tmux -S "$sock" -f /dev/null "$@"; }
trap 'tmux -S "$sock" kill-server 2> /dev/null; rm -rf "$tmp"' EXIT
trap 'exit 1' HUP INT TERM
deadline=60 # seconds to wait for the screen, generous for a slow machine
fails=0
broken=0 # the session went wrong: its further steps are skipped

mkdir "$tmp/work"
# A session that lasts the whole test keeps the tmux server up between the sessions below: a
# server exiting after one session while the next one starts loses that one.
tm new-session -d -s keepalive sleep 86400
cat > "$tmp/work/cmds" << 'EOF'
# names to complete, read from the current directory first
alphabet
alphanumeric   # a comment after a name
betamax
EOF

# The pane runs this: lumbra with the arguments after the session name, as a job of its own as
# under an interactive shell; its process id, exit status and the terminal settings before and
# after it. When it is stopped, the settings are noted, and it is continued (in the foreground
# again) once the file NAME.go appears.
cat > "$tmp/run.sh" << EOF
name=\$1
shift
cd "$tmp/work"
set -m
stty -a > "$tmp/\$name.before"
sh -c 'echo \$\$ > "\$0"; exec "\$@"' "$tmp/\$name.pid" "$lumbra" -l "$src/lib" "\$@"
status=\$?
while [ \$status = 148 ]; do
    stty -a > "$tmp/\$name.stopped"
    while [ ! -f "$tmp/\$name.go" ]; do sleep 0.05; done
    fg > /dev/null
    status=\$?
done
stty -a > "$tmp/\$name.after"
echo \$status > "$tmp/\$name.status"
EOF

fail() {
    echo "FAIL $s: $*"
    fails=$((fails + 1))
    broken=1
}

screen() { tm capture-pane -p -t "$s"; }

# start NAME ARGS...: a session named NAME runs lumbra with ARGS, until its first prompt.
start() {
    s=$1
    broken=0
    tm new-session -d -s "$s" -x 80 -y 24 sh "$tmp/run.sh" "$@"
    waitend ">"
}

# waitend LINE...: waits until the last lines of the screen are these.
waitend() {
    [ $broken = 1 ] && return 1
    want=$(printf '%s\n' "$@")
    end=$(($(date +%s) + deadline))
    while [ "$(date +%s)" -le $end ]; do
        got=$(screen)
        [ "$(printf '%s\n' "$got" | tail -n $#)" = "$want" ] && return 0
        sleep 0.05
    done
    fail "the screen did not end with:"
    printf '%s\n' "$want" "-- but showed:" "$got"
    return 1
}

# keys KEY...: a key beginning with "=" is literal text, the others are tmux key names. All go
# in one call of tmux, as commands separated by ";".
keys() {
    [ $broken = 1 ] && return 1
    n=$#
    for k; do
        case $k in
        =*) set -- "$@" send-keys -t "$s" -H $(printf %s "${k#=}" | od -An -v -tx1) ";" ;;
        *) set -- "$@" send-keys -t "$s" "$k" ";" ;;
        esac
    done
    shift $n
    tm "$@"
}

# edit RESULT KEY...: types a line, then Enter; lumbra prints RESULT and prompts again.
edit() {
    want=$1
    shift
    keys "$@" Enter && waitend "$want" ">"
}

# ended STATUS: lumbra ended with this status and left the terminal settings as it found them.
ended() {
    end=$(($(date +%s) + deadline))
    while [ ! -s "$tmp/$s.status" ] && [ "$(date +%s)" -le $end ]; do sleep 0.05; done
    got=$(cat "$tmp/$s.status" 2> /dev/null)
    [ "$got" = "$1" ] || fail "exit status [$got], expected $1"
    cmp -s "$tmp/$s.before" "$tmp/$s.after" || {
        fail "terminal settings changed"
        diff "$tmp/$s.before" "$tmp/$s.after"
    }
}

pid() { cat "$tmp/$s.pid"; }

# ---------------------------------------------------------------------------
start keys

# Text mode: characters, words, deleting, tab, overwrite, brackets, arrows.
edit "1 abXc" "='1 abc';" C-b C-b C-b =X
edit "2 bc" "='2 abcd';" C-a C-f C-f C-f C-d C-e C-b C-b BSpace
edit "3 alpha Xbeta Ygamma" "='3 alpha beta gamma';" C-a C-w C-w C-w =X C-e C-y C-y C-y =Y
edit "4 keep" =garbage C-x "='4 keepdrop'" C-g "='4 keepdrop';" C-a \
    C-f C-f C-f C-f C-f C-f C-f C-k "=';"
edit "5abc   x   y" "='5abc" Tab =x Tab "=y';"
edit "6 XYZcdef" "='6 abcdef';" C-a C-f C-f C-f C-v =XY C-v =Z
edit "8 f(a(b)cZ)" "='8 f(a(b)c)';" C-a C-f C-f C-f C-f C-] =Z
edit "8 Xab" "='8 ab';" C-a C-f C-f C-f C-] =X
edit "9 abXcY" "='9 abc';" Left Left Left =X Right =Y
edit "9 Z" "='9 ';" Up Down Left Left =Z

# The modal set: moving by characters and words, counts, deleting, finding, changing.
edit "10 Qf" "='10 abcdef';" Escape h h h x X 0 l l l l 3 x i =Q
edit "11 one two Xthree four" "='11 one two three four';" Escape 0 w w w 2 w b i =X
edit "12 ef" "='12 abcdefgh';" Escape 0 l l l l d l 2 d l l d h f g d =$ A "=';"
edit "13 abXYZW" "='13 abcdef';" Escape F c r X l R =YZ Escape s =W
edit "13 aQ" "='13 abc def';" Escape F b C "=Q';"
edit "13 aa" "='13 abab';" Escape F b "=;" x =, x
edit "14 fresh" =garbage Escape d d i "='14 fresh';"
edit "14 new" =junk Escape S "='14 new';"
edit "15 [x(y)zW]" "='15 [x(y)z]';" Escape 0 f =[ =% i =W
edit "16 mid" "='16 mid" Escape A "=';"
edit "16b mid" "=16b mid';" Escape I "='"
edit "17 ab" "='17 abc';" Escape Left Left x
edit "17 xb" "='17 ab';" Escape 0 D i "='17 xb';"

# Undo: back to the line as editing began, the empty one or the one taken from the history.
edit "18 fresh" =garbage C-u "='18 fresh';"
edit "18 undo" "='18 undo';"
edit "18 undo!" C-p C-a C-d C-d C-d C-u C-b C-b =!
edit "18 undo!?" Escape k 0 x x U =$ h i =?

# History: up and down skip lines of one character; down from the newest line comes back to
# the line being typed; search goes back to a line containing the text, further when repeated.
edit "19 first" "='19 first';"
edit "19 second" "='19 second';"
keys "= " Enter
waitend ">" ">"
edit "19 second+" C-p C-p C-n C-b C-b =+
edit "19 own" "='19 own" C-p C-p C-n C-n "=';"
edit "19 first?" =first C-r C-b C-b =?
edit "19 second!" =19 C-r C-r C-r C-r C-b C-b =!
edit "19 own." Up Up Up Up Down Left Left =.
edit "19 second!," Escape 3 k j =$ h i =,
edit "19 second!,:" =second Escape =? C-b C-b =:

# Completion from the command list: a unique beginning, an ambiguous one with its list, none.
edit "21 betamax" "='21 betam" C-Space "=';"
keys "='22 alph" C-Space C-t
waitend "alphabet alphanumeric" "----" "> '22 alpha"
edit "22 alphanumeric" =n C-Space "=';"
edit "23 zz" "='23 zz" C-Space "=';"

# A line longer than the screen: the window of 77 columns follows the cursor by half windows,
# here three times to the end and back to the start.
a44=$(printf '%044d' 0 | tr 0 a)
a69=$(printf '%069d' 0 | tr 0 a)
a150=$(printf '%0150d' 0 | tr 0 a)
keys "=s24 := '${a150}b':"
waitend "> ${a44}b':"
keys C-a
waitend "> s24 := '$a69"
edit "set24" C-f C-f C-f C-f C-f C-f C-f C-f =Z C-e "= 'set24';"
edit "Zaa, 152" "=s24[1..3], length(s24);"

# A prompt longer than half the screen stands on a line of its own.
wide="a prompt that takes more than half of the screen>"
keys "=Set(prompt = '$wide'): 'p25';" Enter
waitend "p25" "$wide" ">"
keys "='25 ok';" Enter
waitend "$wide" "> '25 ok';" "25 ok" "$wide" ">"
edit "p25b" "=Set(prompt = '> '): 'p25b';"

# An interrupt drops the line typed and the statement begun; control-D on an empty line ends
# the input, and the terminal is read again.
keys "='27 never"
waitend "> '27 never"
keys C-c
waitend "> '27 never" ">"
keys "='27" Enter
waitend "> '27" ">"
keys =x
waitend "> '27" "> x"
keys C-c
waitend "> x" ">"
edit "27 ok" "='27 ok';"
keys C-d
waitend ">" ">"
edit "28 after" "='28 after';"
keys "=quit;" Enter
ended 0

# ---------------------------------------------------------------------------
# The terminal settings after an error that ends the program, a signal, an interrupt in batch
# mode, and the end of the input in batch mode.
# Without a command list in the current directory, the one in the library directory serves.
rm "$tmp/work/cmds"
start error -E
keys =CreateArr C-Space
waitend "> CreateArray"
keys C-x
keys "=error('boom');" Enter
ended 1

start term
keys =ab C-b =X
waitend "> aXb"
stty -a -F "$(tm display -p -t "$s" '#{pane_tty}')" | grep -q -- "-icanon" || fail "the line is not edited with canonical input off"
[ $broken = 1 ] || kill -TERM "$(pid)"
ended 143

start batch -B
keys =abc C-c
ended 0

start eof -B
keys C-d
ended 0

# Stopped while a line is edited, the program gives the terminal back, and takes it again when
# continued.
start stop
keys =xy
waitend "> xy"
[ $broken = 1 ] || kill -TSTP "$(pid)"
end=$(($(date +%s) + deadline))
while [ ! -s "$tmp/$s.stopped" ] && [ "$(date +%s)" -le $end ]; do sleep 0.05; done
cmp -s "$tmp/$s.before" "$tmp/$s.stopped" || fail "the settings while stopped are not those found"
touch "$tmp/$s.go"
waitend "> xy"
keys C-b =Q
waitend "> xQy"
edit "xQy" C-e "=;"
keys "=quit;" Enter
ended 0

[ $fails = 0 ] || { echo "$fails failures"; exit 1; }
