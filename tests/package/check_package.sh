#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks what it holds:
#   check_package.sh BUILD_DIR [CPACK]
# The file list, the dependencies found from the linked libraries, the
# desktop entry and the metainfo by their validators, the icon sizes, the
# manual page, the completion, and the installed quorvex-cli.
set -euo pipefail
build=$(realpath "$1")
cpack=${2:-cpack}
work="$build/package-check"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
fail() {
  echo "check_package: $*" >&2
  exit 1
}

(cd "$build" && "$cpack" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
debs=("$work"/out/quorvex_*.deb)
[ -f "${debs[0]}" ] || fail "no package made"
deb=${debs[0]}

dpkg-deb -c "$deb" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}' >"$work/files"
app=io.github.quorvex.Quorvex
expected=(
  "./usr/bin/quorvex -> ../lib/quorvex/quorvex"
  "./usr/bin/quorvex-cli -> ../lib/quorvex/quorvex-cli"
  "./usr/bin/Vuelet -> ../lib/quorvex/Vuelet"
  ./usr/lib/quorvex/quorvex
  ./usr/lib/quorvex/quorvex-cli
  ./usr/lib/quorvex/quorvex-platform.so
  ./usr/lib/quorvex/Vuelet
  ./usr/lib/quorvex/quorvexhelp.html
  ./usr/share/applications/$app.desktop
  ./usr/share/metainfo/$app.metainfo.xml
  ./usr/share/man/man1/quorvex-cli.1.gz
  ./usr/share/bash-completion/completions/quorvex-cli
  ./usr/share/icons/hicolor/scalable/apps/quorvex.svg
)
for size in 16 32 48 64 128 256; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/quorvex.png")
done
for entry in "${expected[@]}"; do
  grep -qxF -- "$entry" "$work/files" || fail "the package lacks $entry"
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libqt6widgets6 libjpeg62-turbo qt6-qpa-plugins fonts-liberation2; do
  [[ $depends == *"$library"* ]] || fail "Depends lacks $library: $depends"
done

root="$work/root"
dpkg-deb -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/$app.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/$app.metainfo.xml" || fail "metainfo"
for size in 16 32 48 64 128 256; do
  file -L "$root/usr/share/icons/hicolor/${size}x${size}/apps/quorvex.png" |
    grep -q "PNG image data, $size x $size," || fail "the $size pixel icon has another size"
done
warnings=$(zcat "$root/usr/share/man/man1/quorvex-cli.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "manual page: $warnings"

completions=$(bash -c '
  source "$1"
  complete -p quorvex-cli >/dev/null || exit 1
  reply() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _quorvex_cli; echo "${COMPREPLY[*]}"; }
  reply quorvex-cli de
  reply quorvex-cli encrypt --mode ""
  reply quorvex-cli decrypt --js' _ "$root/usr/share/bash-completion/completions/quorvex-cli")
[ "$completions" = $'decode decrypt\ntest save delete\n--json' ] ||
  fail "completion offers: $completions"

version=$("$root/usr/bin/quorvex-cli" --version)
[[ $version == "quorvex-cli "* ]] || fail "installed quorvex-cli --version says: $version"
echo "check_package: $(basename "$deb") holds $(wc -l <"$work/files") entries; Depends: $depends"
