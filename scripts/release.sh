# Sourced by the scripts: the Debian release this machine runs and the
# names of its packages that differ between releases. Debian 12
# "bookworm" has LLVM 14, Debian 13 "trixie" LLVM 19 (and no 14).
# shellcheck shell=bash
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-unknown}")
case $release in
    bookworm) llvm=14 ;;
    *) llvm=19 ;;
esac
