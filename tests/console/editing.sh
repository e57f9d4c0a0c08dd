# The line editor's keys, typed as a person types them: moving, deleting,
# insert and overwrite, words, the selection and the clipboard, shift-Tab,
# long lines, Cyrillic text, a bracketed paste, and meta-F4.
source "$(dirname "$0")/common.bash"

start 80 25
zorva

# enter TEXT KEYS...: type TEXT, press the keys, then Enter.
enter() {
  type_text "$1"
  shift
  [ $# -gt 0 ] && keys "$@"
  keys Enter
}

# Moving and deleting: (list 1 2 3) edited into (list 0 1 3).
enter '(lisst 1 2 3)' Left Left Left BSpace BSpace Home Right Right Right Right DC
check "Left, Right, Home, Backspace, Del" '^> \(list 1 3\)$'
check "its value" '^\(1 3\)$'

# Ins: overwrite until Ins again.
type_text '(list 7 8)'
keys Home Right Right Right Right Right Right IC
type_text '5'
keys IC
type_text '4'
keys Enter
check "overwrite, then insert" '^> \(list 54 8\)$'

# Words: control-Left and -Right move to the starts of words,
# control-Backspace deletes the word before the cursor (0x08 where
# Backspace sends 0x7F).
type_text '(list 1 22 333)'
keys C-Left C-Left
tm send-keys -t t -H 08
keys C-Right
type_text '4 '
keys End
keys Enter
check "word keys" "^> \(list 22 4 333\)$"
check "their value" '^\(22 4 333\)$'

# The selection, shown in the selection colour while it lasts; copy with
# control-Ins, cut with shift-Del, paste with shift-Ins.
type_text "(list 'ab 'cd)"
keys Left S-Left S-Left S-Left
check_colours "the selection in attribute 0x17" $'\e[37m\e[44m\'cd'
keys C-IC S-DC Left Left Left Left S-IC
type_text ' '
keys Enter
check "cut and paste" "^> \(list 'cd 'ab \)$"
check "its value" '^\(CD AB\)$'

# Shift-Tab takes back one level of indentation.
type_text '(list      5'
keys Left BTab
keys End
type_text ')'
keys Enter
check "shift-Tab" '^> \(list    5\)$'

# A line longer than the window scrolls inside its field and is whole
# once entered.
long="(list $(printf '%s ' $(seq 100 139)))"
type_text "$long"
check "the field shows the end of a long line" '139 \)$'
check_gone "the field scrolled" '\(list 100 101'
keys Enter
check "a long line entered" '^> \(list 100 101 102'
check "all of it" '139\)$'

# Cyrillic letters come in as UTF-8 and are code page 1251 inside; a
# character 1251 lacks is refused.
type_text '(length "привет一")'
keys Enter
check "Cyrillic text" '^> \(length "привет"\)$'
check "six characters" '^6$'

# A bracketed paste is typed text; its line ends are Enter.
tm set-buffer -b p $'(+ 1\n 2)\n(* 2 3)'
tm paste-buffer -p -b p -t t
check "continuation prompt" '^1> 2\)$'
check "first form" '^3$'
keys Enter
check "second form" '^6$'

# Meta-F4 asks in the status line; N goes on, Y leaves.
keys M-F4
check_row "asked" 24 "Leave the system? Y: yes, N: no, Esc: cancel"
keys n
check_row "not left" 24 "1 value"
type_text '(+ 5 5)'
keys Enter
check "still here" '^10$'
keys M-F4
wait_for 'Leave the system'
keys y
check "left" '^rc=0$'
check_left_cleanly "after meta-F4"

finish
