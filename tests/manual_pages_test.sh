#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The manual pages against the programs: for each program and each of its
# commands, the long options that --help lists and those the page's scdoc
# source describes must be the same, and so must the commands. Prints every
# difference, both ways, and fails when there is one.
#
# With --completion FILE, the bash completion of velmorin-cli is held to the
# same lists: its commands, and each command's long options.
#
# Usage: manual_pages_test.sh [--completion FILE] MANDIR PROGRAM...
# A page's layout: the program's own options under "# OPTIONS", each command
# under "## NAME" in "# COMMANDS", each option on a line that begins "*-".
set -uo pipefail

completion=
if [ "${1:-}" = --completion ]; then
    completion=$2
    shift 2
fi
if [ $# -lt 2 ]; then
    echo "usage: $0 [--completion FILE] MANDIR PROGRAM..." >&2
    exit 2
fi
mandir=$1
shift

failures=0

# The long options of a --help text on standard input. CLI11's lists them
# under "Options:", one per line that begins "  -" (the short form first,
# then a comma); the window's usage names them in brackets.
HelpOptions() {
    local text
    text=$(cat)
    if grep -q '^Options:' <<<"$text"; then
        sed -n '/^Options:/,/^[^ ]/p' <<<"$text" | grep -E '^  -' | awk '{print $1}' |
            tr ',' '\n' | grep -E '^--' | sort -u
    else
        grep -oE -- '--[a-z0-9][a-z0-9-]*' <<<"$text" | sort -u
    fi
}

# The commands a CLI11 --help text on standard input lists under "Subcommands:".
HelpCommands() {
    sed -n '/^Subcommands:/,$p' | grep -E '^  [a-z]' | awk '{print $1}' | sort -u
}

# The lines of a page's section: "# TITLE" to the next "# " heading.
Section() {
    awk -v title="# $2" '$0 == title {inside = 1; next} /^# / {inside = 0} inside' "$1"
}

# The long options of the option lines on standard input.
PageOptions() {
    grep -E '^\*-' | grep -oE -- '\*--[a-z0-9][a-z0-9-]*\*' | tr -d '*' | sort -u
}

# The lines of one command's part of the COMMANDS section.
CommandPart() {
    Section "$1" COMMANDS |
        awk -v title="## $2" '$0 == title {inside = 1; next} /^## / {inside = 0} inside'
}

# The commands the completion offers, and the long options it offers for
# command $1 (its `command) options="..."` line).
CompletionCommands() {
    sed -n 's/^ *local commands="\(.*\)"$/\1/p' "$completion" | tr ' ' '\n' | grep . | sort -u
}
CompletionOptions() {
    sed -n "s/^ *$1) options=\"\(.*\)\" ;;\$/\1/p" "$completion" | tr ' ' '\n' |
        grep -E '^--' | sort -u
}

# Reports the differences between two sorted lists.
Compare() {
    local what=$1 helpList=$2 pageList=$3 page=$4 item
    while read -r item; do
        [ -n "$item" ] || continue
        echo "$what: $item is in --help but not in $page"
        failures=$((failures + 1))
    done < <(comm -23 <(echo "$helpList") <(echo "$pageList"))
    while read -r item; do
        [ -n "$item" ] || continue
        echo "$what: $item is in $page but not in --help"
        failures=$((failures + 1))
    done < <(comm -13 <(echo "$helpList") <(echo "$pageList"))
}

for program in "$@"; do
    name=$(basename "$program")
    page=$mandir/$name.1.scd
    if [ ! -f "$page" ]; then
        echo "$name: no manual page $page"
        failures=$((failures + 1))
        continue
    fi
    if ! help=$("$program" --help 2>&1); then
        echo "$name: --help failed: $help"
        failures=$((failures + 1))
        continue
    fi
    Compare "$name" "$(HelpOptions <<<"$help")" "$(Section "$page" OPTIONS | PageOptions)" "$page"

    helpCommands=$(HelpCommands <<<"$help")
    pageCommands=$(Section "$page" COMMANDS | grep -E '^## ' | awk '{print $2}' | sort -u)
    Compare "$name commands" "$helpCommands" "$pageCommands" "$page"
    withCompletion=
    if [ -n "$completion" ] && [ "$name" = velmorin-cli ]; then
        withCompletion=1
        Compare "$name commands" "$helpCommands" "$(CompletionCommands)" "$completion"
    fi

    for command in $helpCommands; do
        if ! commandHelp=$("$program" "$command" --help 2>&1); then
            echo "$name $command: --help failed: $commandHelp"
            failures=$((failures + 1))
            continue
        fi
        # --help itself is described once, among the program's own options.
        commandOptions=$(HelpOptions <<<"$commandHelp" | grep -vx -- --help)
        Compare "$name $command" "$commandOptions" \
            "$(CommandPart "$page" "$command" | PageOptions)" "$page"
        if [ -n "$withCompletion" ]; then
            Compare "$name $command" "$commandOptions" "$(CompletionOptions "$command")" \
                "$completion"
        fi
    done
    if [ -n "$helpCommands" ]; then
        echo "$name: options and $(wc -w <<<"$helpCommands") commands checked"
    else
        echo "$name: options checked"
    fi
done

if [ "$failures" -gt 0 ]; then
    echo "FAILED: $failures differences between the manual pages and --help"
    exit 1
fi
echo "the manual pages and --help list the same commands and options"
