#!/usr/bin/env bash
# The Debian package, built from this build folder into a temporary folder and unpacked there with
# dpkg-deb (nothing is installed on the machine): control fields, file list and ownership, icon sizes,
# stripped programs, changelog version, desktop entry, and the unpacked programs started; installed,
# morvent-cli writes its trace into the current folder, not beside itself.
# check_deb.sh BUILD_DIR VERSION GUI(ON|OFF)
set -euo pipefail
build=$1 version=$2 gui=$3
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
for tool in cpack dpkg-deb dpkg-shlibdeps file; do
  command -v "$tool" > /dev/null || { echo "SKIP: $tool is missing (scripts/deps.sh package)"; exit 77; }
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
(cd "$build" && cpack -G DEB -B "$tmp/out" > "$tmp/cpack.log" 2>&1) || { cat "$tmp/cpack.log"; fail "cpack"; }
debs=("$tmp"/out/morvent_*.deb)
[ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ] || fail "not one package: ${debs[*]}"
deb=${debs[0]}
field() { dpkg-deb -f "$deb" "$1"; }

# Control fields.
[ "$(field Package)" = morvent ] || fail "Package: $(field Package)"
pkgversion=$(field Version)
[[ $pkgversion == "$version"-* ]] || fail "Version $pkgversion is not $version-REVISION"
[ "$(basename "$deb")" = "morvent_${pkgversion}_$(dpkg --print-architecture).deb" ] || fail "file name $deb"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture: $(field Architecture)"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ "$(field Section)" = science ] && [ "$(field Priority)" = optional ] || fail "Section/Priority"
description=$(field Description)
[ -n "$(echo "$description" | head -1)" ] && [ "$(echo "$description" | wc -l)" -ge 4 ] || fail "Description: $description"
echo "$description" | awk 'length > 80 {exit 1}' || fail "Description has lines longer than 80 characters"
depends=$(field Depends)
wanted=(libc6 libstdc++6)
[ "$gui" = ON ] && wanted+=(libqt6core6 libqt6gui6 libqt6widgets6 qt6-qpa-plugins)
for d in "${wanted[@]}"; do
  [[ ", $depends," == *", $d "* || ", $depends," == *", $d,"* ]] || fail "Depends lacks $d: $depends"
done

# Files: owned by root, nothing outside /usr, everything the installation promises.
dpkg-deb -c "$deb" > "$tmp/list"
awk '$2 != "root/root" {print; bad = 1} END {exit bad}' "$tmp/list" || fail "files not owned by root"
awk '{print $6}' "$tmp/list" | sed 's|/$||' | sort > "$tmp/paths"
grep -vE '^\.(/usr(/.*)?)?$' "$tmp/paths" && fail "files outside /usr"
expected=(usr/bin/morvent-cli usr/bin/zemat-sim usr/share/man/man1/morvent-cli.1.gz usr/share/man/man1/zemat-sim.1.gz
  usr/share/bash-completion/completions/morvent-cli usr/share/doc/morvent/README.md
  usr/share/doc/morvent/README.morvent-cli.md usr/share/doc/morvent/README.zemat-sim.md
  usr/share/doc/morvent/changelog.Debian.gz usr/share/doc/morvent/copyright)
sizes=()
if [ "$gui" = ON ]; then
  sizes=(16 22 24 32 48 64 128 256)
  expected+=(usr/bin/morvent usr/share/man/man1/morvent.1.gz usr/share/applications/morvent.desktop
    usr/share/icons/hicolor/scalable/apps/morvent.svg)
  for s in "${sizes[@]}"; do expected+=("usr/share/icons/hicolor/${s}x$s/apps/morvent.png"); done
fi
for f in "${expected[@]}"; do grep -qx "./$f" "$tmp/paths" || fail "missing /$f"; done

# Contents.
root=$tmp/root
dpkg-deb -x "$deb" "$root"
for s in "${sizes[@]}"; do
  file "$root/usr/share/icons/hicolor/${s}x$s/apps/morvent.png" | grep -q "PNG image data, $s x $s" || fail "icon $s"
done
for p in "$root"/usr/bin/*; do
  file "$p" | grep -q 'ELF.*, stripped' || fail "$(basename "$p") is not stripped"
  [ "$(stat -c %a "$p")" = 755 ] || fail "$(basename "$p") mode $(stat -c %a "$p")"
done
for z in "$root"/usr/share/man/man1/*.gz "$root/usr/share/doc/morvent/changelog.Debian.gz"; do
  gzip -t "$z" || fail "$z"
done
zcat "$root/usr/share/doc/morvent/changelog.Debian.gz" | head -1 | grep -qF "morvent ($pkgversion) " ||
  fail "changelog does not start with $pkgversion"
if [ "$gui" = ON ] && command -v desktop-file-validate > /dev/null; then
  desktop-file-validate "$root/usr/share/applications/morvent.desktop" | grep -E 'error|warning' && fail "desktop entry"
fi

# The unpacked programs start (their libraries are this machine's).
programs=(morvent-cli zemat-sim)
[ "$gui" = ON ] && programs+=(morvent)
for p in "${programs[@]}"; do
  [ "$("$root/usr/bin/$p" --version)" = "$p $version" ] || fail "$p --version"
done
# An installation is known by its desktop entry (there is none without the desktop application).
if [ "$gui" = ON ]; then
  mkdir "$tmp/work"
  (cd "$tmp/work" && "$root/usr/bin/morvent-cli" --trace 4 --timeout 0 --telnet-port 1 --data-port 1 tree > /dev/null 2>&1) &&
    fail "morvent-cli connected to port 1"
  [ -s "$tmp/work/Morvent.trc" ] || fail "the installed morvent-cli wrote no trace into the current folder"
  [ -e "$root/usr/bin/Morvent.trc" ] && fail "the installed morvent-cli wrote its trace beside itself"
fi
echo "$(basename "$deb"): $(wc -l < "$tmp/paths") entries, Depends: $depends"
