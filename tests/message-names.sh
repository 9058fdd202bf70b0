#!/bin/sh
# The program names what it exchanges with the editing component one way: from
# editor/EditorMessages.h, under the component's own names and numbers. Fails
# when a number there is not the component's, when code names a message or
# constant the table lacks, or when code takes one from the component's class.
#
# Usage: message-names.sh SOURCE_DIR QSCINTILLA_HEADER (qsciscintillabase.h)
set -eu
source=$1
component=$2
table=$source/editor/EditorMessages.h
prefixes='(SCI|SC|SCN|SCLEX|STYLE)_[A-Z0-9_]+'
failed=0
fail() {
    echo "message-names: $*"
    failed=1
}

# "NAME VALUE" for each NAME = value in a file, values in decimal, first one
# kept where a name is given twice.
definitions() {
    grep -aoE "(^|[^A-Za-z0-9_])$prefixes = (0x[0-9A-Fa-f]+|[0-9]+)" "$1" |
        sed -E 's/^[^A-Z]*//' |
        while read -r name _ value; do echo "$name $((value))"; done |
        awk '!seen[$1]++' | sort
}

ours=$(mktemp)
theirs=$(mktemp)
trap 'rm -f "$ours" "$theirs"' EXIT
definitions "$table" >"$ours"
definitions "$component" >"$theirs"
[ -s "$ours" ] && [ -s "$theirs" ] || { echo "message-names: nothing read"; exit 1; }

# Notification codes are signals in QScintilla's class, not numbers.
while read -r name value; do
    theirValue=$(awk -v n="$name" '$1 == n { print $2 }' "$theirs")
    case $name in
    SCN_*) ;;
    *) [ "$theirValue" = "$value" ] ||
        fail "$name is $value in the table, ${theirValue:-not defined} in the component" ;;
    esac
done <"$ours"

# The program's code and its tests and benchmarks. Signals such as
# &QsciScintillaBase::SCN_MODIFIED are the widget's, not messages.
code=$(cd "$source" && find app document editor platform resources bench tests \
    -name '*.cpp' -o -name '*.h' | grep -v '^editor/EditorMessages\.h$' | sort)
for file in $code; do
    stripped=$(sed -E 's/QsciScintillaBase::SCN_[A-Z_]+//g' "$source/$file")
    if echo "$stripped" | grep -anE "(QsciScintillaBase|Sci)::$prefixes" >/dev/null; then
        fail "$file takes names from the component's class:" \
            "$(echo "$stripped" | grep -anoE "(QsciScintillaBase|Sci)::$prefixes" | head -3 | tr '\n' ' ')"
    fi
    for name in $(echo "$stripped" | grep -aoE "(^|[^A-Za-z0-9_:])$prefixes" |
        sed -E 's/^[^A-Z]*//' | sort -u); do
        grep -q "^$name " "$ours" || fail "$file names $name, which the table lacks"
    done
done
exit $failed
