#!/bin/sh
# Writes the bash completion of edb2msg from the program's own help: the commands from
# "edb2msg --help", each command's options from "edb2msg COMMAND --help".
# Usage: make_completion.sh PROGRAM OUTPUT
set -eu
program=$1
output=$2

# The names under the help's "Subcommands:" heading.
commands=$("$program" --help | awk '
    /^[A-Za-z].*:$/ { in_commands = ($0 == "Subcommands:"); next }
    in_commands && /^  [a-z]/ { print $1 }')
if [ -z "$commands" ]; then
    echo "make_completion.sh: no commands in the help of $program" >&2
    exit 1
fi

# Option words of one help text: every --name or -x at the start of an option line, and
# whether it takes a value (a TEXT, INT, ... or an ENUM-like word after it).
options_of() {
    "$program" "$@" --help | awk '
        /^  +-/ {
            for (i = 1; i <= NF; i++) {
                word = $i
                sub(/,$/, "", word)
                if (word ~ /^--?[A-Za-z]/) {
                    takes = (i < NF && $(i + 1) ~ /^[A-Z]+/ && $(i + 1) !~ /^Excludes|^Needs/)
                    print word (takes ? "=" : "")
                } else {
                    break
                }
            }
        }'
}

{
    echo "# bash completion for edb2msg, made from its own --help by dist/make_completion.sh."
    echo
    echo "_edb2msg() {"
    echo '    local cur prev words cword'
    echo '    cur=${COMP_WORDS[COMP_CWORD]}'
    echo '    prev=${COMP_WORDS[COMP_CWORD-1]}'
    echo '    local command="" i'
    echo '    for ((i = 1; i < COMP_CWORD; i++)); do'
    echo '        case ${COMP_WORDS[i]} in'
    printf '            %s) command=${COMP_WORDS[i]}; break ;;\n' "$(echo $commands | tr ' ' '|')"
    echo '        esac'
    echo '    done'
    echo '    local options takes_value'
    echo '    case $command in'
    for command in "" $commands; do
        if [ -z "$command" ]; then
            all=$(options_of)
            echo '        "")'
        else
            all=$(options_of "$command")
            echo "        $command)"
        fi
        printf "            options='%s'\n" "$(echo $all | tr -d '=')"
        printf "            takes_value=' %s '\n" "$(printf '%s\n' $all | sed -n 's/=$//p' | tr '\n' ' ')"
        echo '            ;;'
    done
    echo '    esac'
    echo '    # The value of an option that takes one.'
    echo '    if [[ $takes_value == *" $prev "* ]]; then'
    echo '        case $prev in'
    echo '            --out) COMPREPLY=($(compgen -d -- "$cur")) ;;'
    echo '            --format) COMPREPLY=($(compgen -W "msg eml" -- "$cur")) ;;'
    echo '            *) COMPREPLY=() ;;'
    echo '        esac'
    echo '        return'
    echo '    fi'
    echo '    if [[ $cur == -* ]]; then'
    echo '        COMPREPLY=($(compgen -W "$options" -- "$cur"))'
    echo '    elif [[ -z $command ]]; then'
    printf '        COMPREPLY=($(compgen -W "%s" -- "$cur"))\n' "$(echo $commands)"
    echo '    else'
    echo '        # The store: .edb files and folders to reach them.'
    echo '        COMPREPLY=($(compgen -f -X "!*.[eE][dD][bB]" -- "$cur") $(compgen -d -- "$cur"))'
    echo '        compopt -o filenames 2>/dev/null'
    echo '    fi'
    echo "}"
    echo
    echo "complete -F _edb2msg edb2msg"
} >"$output"
