#!/usr/bin/env bash
# Offers the completions of bash's Tab for a command line, one a line:
#   complete_line.sh BASH_COMPLETION COMPLETION_FILE LINE
# The line is split as readline splits it (every '=' a word of its own, an empty last word after
# a trailing space) and the completion function asked for its last word.
source "$1" && source "$2" || exit 1
line=$3
read -ra COMP_WORDS <<<"${line//=/ = }"
[[ $line == *' ' ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
COMP_LINE=$line
COMP_POINT=${#line}
_snaploom snaploom "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
