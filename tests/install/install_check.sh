#!/bin/bash
# Installs the build into a temporary prefix and uses what was installed, as a user would:
# edb2msg info on the sample store, ExportEdb --self-test under Xvfb (its status page must find
# its image under share/edb2msg), the manual pages, the bash completion and the desktop entry.
# Usage: install_check.sh BUILD_DIR STORE
set -u
build=$1
store=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
fail() {
    echo "FAILED: $*"
    failed=1
}

prefix=$work/prefix
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install"
    exit 1
fi
for file in bin/edb2msg bin/ExportEdb \
    share/edb2msg/loading.gif share/edb2msg/done.gif share/edb2msg/wait.gif \
    share/edb2msg/cancel.gif share/edb2msg/quorvale-pst.chm share/man/man1/edb2msg.1.gz share/man/man1/ExportEdb.1.gz \
    share/bash-completion/completions/edb2msg share/applications/edb2msg-ExportEdb.desktop \
    share/icons/hicolor/scalable/apps/edb2msg-ExportEdb.svg; do
    [ -f "$prefix/$file" ] || fail "$file was not installed"
done
[ "$(head -c 4 "$prefix/share/edb2msg/quorvale-pst.chm")" = ITSF ] ||
    fail "quorvale-pst.chm is no compiled help file"
[ "$failed" -eq 0 ] || exit 1

# The programs run from elsewhere, on a copy of the store.
cp "$store" "$work/sample-store.edb"
cd "$work" || exit 1
if "$prefix/bin/edb2msg" info sample-store.edb --json >info.json 2>info.err; then
    python3 - info.json <<'PY' || fail "edb2msg info --json does not show the sample's mailboxes"
import json, sys
info = json.load(open(sys.argv[1]))
names = sorted(m["name"] for m in info["mailboxes"])
assert names == ["Alice Martin", "David Novak"], names
assert info["folders"] == 18, info["folders"]
PY
else
    cat info.err
    fail "edb2msg info exited non-zero"
fi
"$prefix/bin/ExportEdb" --version | grep -qx "ExportEdb [0-9.]*" || fail "ExportEdb --version"

# The manual pages render without a warning and have the hand-written sections and the
# options from the programs' help.
if command -v man >/dev/null 2>&1; then
    for page in edb2msg ExportEdb; do
        LC_ALL=C.UTF-8 MANWIDTH=100 man --warnings -l "$prefix/share/man/man1/$page.1.gz" \
            >"$page.txt" 2>"$page.err"
        [ -s "$page.err" ] && { cat "$page.err"; fail "man $page: warnings"; }
        grep -q "^EXIT STATUS" "$page.txt" || fail "man $page has no EXIT STATUS"
    done
    for text in "JSON OUTPUT" "EXAMPLES" "--hash-store" "--format"; do
        grep -q -e "$text" edb2msg.txt || fail "man edb2msg does not have $text"
    done
    grep -q -e "--self-test" ExportEdb.txt || fail "man ExportEdb does not have --self-test"
else
    echo "man not found: the manual pages are not rendered"
fi

# The completion offers the commands, a command's options and the values of --format.
complete_words() {
    bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _edb2msg
        printf "%s\n" "${COMPREPLY[@]}"' completion \
        "$prefix/share/bash-completion/completions/edb2msg" "$@" | sort | tr '\n' ' '
}
[ "$(complete_words edb2msg "")" = "export info list show tree " ] ||
    fail "completion of the commands: $(complete_words edb2msg "")"
[ "$(complete_words edb2msg export s.edb --f)" = "--folder --format --from " ] ||
    fail "completion of export's options: $(complete_words edb2msg export s.edb --f)"
[ "$(complete_words edb2msg export s.edb --format "")" = "eml msg " ] ||
    fail "completion of --format: $(complete_words edb2msg export s.edb --format "")"
[ "$(complete_words edb2msg info --)" = "--help --help-all --json --recover " ] ||
    fail "completion of info's options: $(complete_words edb2msg info --)"

desktop-file-validate "$prefix/share/applications/edb2msg-ExportEdb.desktop" ||
    fail "desktop-file-validate"

if command -v xvfb-run >/dev/null 2>&1; then
    mkdir -m 700 runtime
    env -u QT_QPA_PLATFORM XDG_RUNTIME_DIR="$work/runtime" \
        xvfb-run -a "$prefix/bin/ExportEdb" --self-test=sample-store.edb >window.out 2>window.err
    status=$?
    cat window.out
    [ "$status" -eq 0 ] || fail "ExportEdb --self-test exited with $status"
    [ -s window.err ] && { cat window.err; fail "ExportEdb wrote to standard error"; }
    grep -qx "status image: done.gif" window.out || fail "the status page did not show its image"
else
    echo "xvfb-run not found: the installed window is not run"
fi
[ "$failed" -eq 0 ] && echo "install check passed"
exit $failed
