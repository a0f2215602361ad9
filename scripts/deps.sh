#!/usr/bin/env bash
# Installs the Debian packages a profile needs (build, bench, gui, fuzz, package), only those still missing.
set -euo pipefail
pkgs=(build-essential cmake ninja-build libgtest-dev nlohmann-json3-dev clang-format)
for profile in "$@"; do
  case "$profile" in
    build) ;;
    bench) pkgs+=(lua5.4) ;;
    fuzz)  pkgs+=(clang libclang-rt-14-dev) ;;
    gui)   pkgs+=(qt6-base-dev qt6-base-dev-tools libgl-dev pkg-config librsvg2-bin) ;;  # pkg-config: for Qt's CMake modules; rsvg-convert: the icon
    package) pkgs+=(dpkg-dev file desktop-file-utils) ;;  # cpack's DEB generator (dpkg-shlibdeps) and the package's checks
    *) echo "deps.sh: unknown profile '$profile'" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "Installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
