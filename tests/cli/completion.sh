#!/usr/bin/env bash
# The bash completion, sourced into bash as bash-completion does and asked as readline
# asks it: commands, each command's options (every one its --help names), option values,
# settings files, and the printer names of the file on the line.
source "$(dirname "$0")/script-common.sh"
export PATH=$ODOMIRA_BIN_DIR:$PATH
# shellcheck source=../../data/completion/odomira-cli
source "$ODOMIRA_SOURCE_DIR/data/completion/odomira-cli"

# complete WORD... : what the completion offers for the last word, one per line, sorted.
complete_line() {
    COMP_WORDS=(odomira-cli "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _odomira_cli
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
not() { ! "$@"; }
offers() { # offers EXPECTED WORD...: EXPECTED is among the completions
    local expected=$1
    shift
    complete_line "$@" | grep -qxF -- "$expected"
}

check "the completion is registered for odomira-cli" \
    bash -c "source '$ODOMIRA_SOURCE_DIR/data/completion/odomira-cli'; complete -p odomira-cli >/dev/null"

commands=$("$cli" --help | sed -n '/^Commands:/,/^$/p' | awk 'NF > 1 { print $1 }' | sort)
check "every command of --help is completed, and no other" \
    test "$(complete_line '' | grep -v '^--')" = "$commands"
check "commands complete from a prefix" test "$(complete_line he)" = $'head-history\nhead-life'

for command in $commands; do
    # The synopsis and the option lines of the command's help.
    help_options=$("$cli" "$command" --help | sed -n '1,/^$/p; /^  -/p' |
        grep -o -- '--[a-z][a-z-]*' | sort -u)
    offered=$(complete_line "$command" x.vps --)
    missing=$(comm -23 <(echo "$help_options") <(echo "$offered"))
    check "$command: every option of its --help is completed${missing:+ (missing: $missing)}" \
        test -z "$missing"
done
check "list, which takes the lock, offers --wait-lock" offers --wait-lock list f.vps --w
check "show, which does not, leaves it out" not offers --wait-lock show f.vps --w

check "--units takes in or mm" test "$(complete_line list f.vps --units '')" = $'in\nmm'
check "--parity takes its three words" test "$(complete_line add f.vps --parity '')" = \
    $'even\nnone\nodd'
mkdir "$scratch/files"
cd "$scratch/files"
mkdir folder
touch empty.vps notes.txt
check "the file operand offers settings files and folders" \
    test "$(complete_line list '')" = $'empty.vps\nfolder'
check "an option's value is not taken for the file" \
    test "$(complete_line list --units mm '')" = $'empty.vps\nfolder'

"$cli" add shop.vps -q --name "Shipping Dock" --serial COM1 >/dev/null
"$cli" add shop.vps -q --name "Front Office" --usb /dev/usb/lp0 >/dev/null
"$cli" add shop.vps -q --name 'Line "3"' --parallel LPT1 >/dev/null
check "printer names of the file, quoted for the shell" \
    test "$(complete_line list shop.vps '')" = \
    "$(printf '%s\n' 'Front\ Office' 'Line\ \"3\"' 'Shipping\ Dock' | sort)"
check "names complete from a prefix, also after options and other names" \
    test "$(complete_line send shop.vps --max 2 'Front Office' Sh)" = 'Shipping\ Dock'
check "a prefix typed with a backslash" test "$(complete_line reset-head shop.vps 'Front\ O')" = \
    'Front\ Office'
check "add and detect take no names" test -z "$(complete_line add shop.vps '')"
check "a file that is not there offers nothing" test -z "$(complete_line list none.vps '')"
finish
