#!/bin/sh
# ExportEdb under Xvfb: a run without a user opens a copy of the sample store, scans it and
# leaves through the exit question. Fails on a non-zero exit code, on a scan that did not show
# both mailboxes with their folders, and on anything written to standard error.
# Usage: xvfb_check.sh PROGRAM STORE
set -u
program=$1
store=$2
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run not found (scripts/setup installs xvfb and xauth); skipping"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Qt wants a private runtime folder and says so on standard error otherwise.
mkdir -m 700 "$work/runtime"
cp "$store" "$work/sample-store.edb"
env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work/runtime" \
    xvfb-run -a "$program" --self-test="$work/sample-store.edb" >"$work/out" 2>"$work/err"
status=$?
cat "$work/out"
failed=0
if [ "$status" -ne 0 ]; then
    echo "FAILED: exit code $status"
    failed=1
fi
if [ -s "$work/err" ]; then
    echo "FAILED: standard error is not empty:"
    cat "$work/err"
    failed=1
fi
if ! grep -qx "scanned: 2 mailboxes, 18 folders" "$work/out"; then
    echo "FAILED: the scan did not show the sample's two mailboxes and 18 folders"
    failed=1
fi
exit $failed
