#!/usr/bin/env bash
# Runs esedbinfo and esedbexport on a database; fails on any error they report.
set -uo pipefail
db=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
if ! esedbinfo "$db" >"$work/info.txt" 2>"$work/info.err"; then
    echo "esedbinfo failed"; fail=1
fi
if ! esedbexport -t "$work/export" "$db" >"$work/export.txt" 2>"$work/export.err"; then
    echo "esedbexport failed"; fail=1
fi
if grep -qiE 'unable|error|invalid|unsupported' "$work/info.txt" "$work/info.err" \
        "$work/export.txt" "$work/export.err"; then
    echo "libesedb tools reported errors:"
    grep -iE 'unable|error|invalid|unsupported' "$work"/*.txt "$work"/*.err | head -20
    fail=1
fi
if ! grep -q 'Export completed' "$work/export.txt"; then
    echo "esedbexport did not complete"; fail=1
fi
tables=$(grep -c '^Table:' "$work/info.txt")
if [ "$tables" -lt 10 ]; then
    echo "only $tables tables listed"; fail=1
fi
exit $fail
