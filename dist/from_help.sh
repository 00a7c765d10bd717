#!/bin/sh
# Writes what follows from edb2msg's own help, so that it changes with the program: the
# COMMANDS section of its manual page (an include file for help2man) and its bash completion.
# The commands are the names under "Subcommands:" of "edb2msg --help", each command's
# arguments and options those of "edb2msg COMMAND --help".
# Usage: from_help.sh PROGRAM MANUAL_SECTION_OUTPUT COMPLETION_OUTPUT
set -eu
program=$1
section_out=$2
completion_out=$3

commands=$("$program" --help | awk '
    /^[A-Za-z].*:$/ { in_commands = ($0 == "Subcommands:"); next }
    in_commands && /^  [a-z]/ { print $1 }')
if [ -z "$commands" ]; then
    echo "from_help.sh: no commands in the help of $program" >&2
    exit 1
fi

# One line per argument or option of a help text, tab-separated: kind (positional or option),
# names (comma-separated), the value it takes (empty for a flag; for a choice the choices
# separated by |), required (1 or 0), repeatable (1 or 0), description.
entries() {
    "$program" "$@" --help | awk '
        function flush() {
            if (opts == "") return
            n = split(opts, word, " ")
            names = word[1]; value = ""; required = 0; repeatable = 0
            for (i = 2; i <= n; i++) {
                if (word[i] == "REQUIRED") required = 1
                else if (word[i] == "...") repeatable = 1
                else if (value == "" && word[i] ~ /^[A-Z]+(:.*)?$/) value = word[i]
            }
            # A choice: ENUM:value in {eml->1,msg->0} OR {1,0}
            if (match(opts, /\{[^}]*->[^}]*\}/)) {
                list = substr(opts, RSTART + 1, RLENGTH - 2)
                m = split(list, choice, ",")
                value = ""
                for (i = 1; i <= m; i++) {
                    sub(/->.*/, "", choice[i])
                    value = value (i > 1 ? "|" : "") choice[i]
                }
            }
            printf "%s\t%s\t%s\t%d\t%d\t%s\n", kind, names, value, required, repeatable, text
            opts = ""; text = ""
        }
        /^[A-Za-z].*:$/ {
            flush()
            kind = ($0 == "Positionals:") ? "positional" : ($0 == "Options:") ? "option" : ""
            next
        }
        kind != "" && /^  [^ ]/ {
            flush()
            line = substr($0, 3)
            if (match(line, /  +/)) {
                opts = substr(line, 1, RSTART - 1); text = substr(line, RSTART + RLENGTH)
            } else {
                opts = line; text = ""
            }
            next
        }
        kind != "" && /^   +[^ ]/ && opts != "" {
            sub(/^ +/, "")
            text = (text == "" ? $0 : text " " $0)
            next
        }
        { flush() }
        END { flush() }'
}

# What a user types, for roff: backslashes doubled, hyphens as \-.
roff() {
    sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
}

{
    echo "[COMMANDS]"
    for command in $commands; do
        usage=$("$program" "$command" --help | sed -n 's/^Usage: [^ ]* /edb2msg /p')
        about=$("$program" "$command" --help | sed -n '1p')
        printf '.SS "%s"\n' "$(echo "$usage" | roff)"
        echo "$about" | roff
        entries "$command" | awk -F '\t' '
            function roff(t) { gsub(/\\/, "\\e", t); gsub(/-/, "\\-", t); if (t ~ /^[.\047]/) t = "\\&" t; return t }
            $2 == "--help" || $2 == "-h,--help" || $2 == "--help-all" { next }
            {
                print ".TP"
                label = $2; gsub(/,/, ", ", label)
                if ($1 == "positional") print ".I " label
                else if ($3 != "") printf ".BI \"%s \" %s\n", roff(label), roff($3)
                else print ".B " roff(label)
                print roff($6 (($4 == 1 && $1 == "option") ? " (required)" : ""))
            }'
    done
} >"$section_out"

# The completion: each command's option words, which of them take a value, and the choices of
# those that take one of a few.
{
    echo "# bash completion for edb2msg, made from its own --help by dist/from_help.sh."
    echo
    echo "_edb2msg() {"
    echo '    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}'
    echo '    local command="" i options="" valued="" choices=""'
    echo '    for ((i = 1; i < COMP_CWORD; i++)); do'
    echo '        case ${COMP_WORDS[i]} in'
    printf '            %s) command=${COMP_WORDS[i]}; break ;;\n' "$(echo $commands | tr ' ' '|')"
    echo '        esac'
    echo '    done'
    echo '    case $command in'
    for command in "" $commands; do
        if [ -z "$command" ]; then
            echo '        "")'
            list=$(entries)
        else
            echo "        $command)"
            list=$(entries "$command")
        fi
        words=$(echo "$list" | awk -F '\t' '$1 == "option" { gsub(/,/, " ", $2); print $2 }')
        valued=$(echo "$list" | awk -F '\t' '$1 == "option" && $3 != "" { gsub(/,/, " ", $2); print $2 }')
        printf "            options='%s'\n" "$(echo $words)"
        printf "            valued=' %s '\n" "$(echo $valued)"
        echo "$list" | awk -F '\t' '$1 == "option" && $3 ~ /\|/ {
            gsub(/,/, "|", $2); gsub(/\|/, " ", $3)
            printf "            case $prev in %s) choices=\"%s\" ;; esac\n", $2, $3 }'
        echo '            ;;'
    done
    echo '    esac'
    echo '    if [[ $valued == *" $prev "* ]]; then'
    echo '        if [[ -n $choices ]]; then'
    echo '            COMPREPLY=($(compgen -W "$choices" -- "$cur"))'
    echo '        else'
    echo '            # A folder to save into, a date, a name: files and folders are the best guess.'
    echo '            COMPREPLY=($(compgen -f -- "$cur"))'
    echo '            compopt -o filenames 2>/dev/null'
    echo '        fi'
    echo '    elif [[ $cur == -* ]]; then'
    echo '        COMPREPLY=($(compgen -W "$options" -- "$cur"))'
    echo '    elif [[ -z $command ]]; then'
    printf '        COMPREPLY=($(compgen -W "%s" -- "$cur"))\n' "$(echo $commands)"
    echo '    else'
    echo '        # The store: .edb files, and folders on the way to them.'
    echo '        COMPREPLY=($(compgen -f -X "!*.[eE][dD][bB]" -- "$cur") $(compgen -d -- "$cur"))'
    echo '        compopt -o filenames 2>/dev/null'
    echo '    fi'
    echo '}'
    echo
    echo 'complete -F _edb2msg edb2msg'
} >"$completion_out"
