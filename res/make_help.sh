#!/usr/bin/env bash
# Compiles the window's help file quorvale-pst.chm from help/ (index.html, the table of
# contents toc.hhc and the project quorvale-pst.hhp) with chmcmd, Free Pascal's help compiler,
# installing Debian's fp-utils-3.2.2 for it when it is missing. The .chm is kept in this folder
# beside the status images, so that a build needs no help compiler.
# Run from anywhere: res/make_help.sh
set -euo pipefail
cd "$(dirname "$0")"
if ! command -v chmcmd >/dev/null 2>&1; then
  SUDO=()
  if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
  echo "make_help: installing fp-utils-3.2.2 for chmcmd" >&2
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update -q >/dev/null
  "${SUDO[@]}" apt-get install -q -y -o Dpkg::Use-Pty=0 --no-install-recommends fp-utils-3.2.2 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp help/index.html help/toc.hhc help/quorvale-pst.hhp "$work/"
(cd "$work" && chmcmd quorvale-pst.hhp >/dev/null)
mv "$work/quorvale-pst.chm" quorvale-pst.chm
echo "make_help: $(pwd)/quorvale-pst.chm"
