#!/usr/bin/env bash
# Installs what building and running Portwright need on Debian 12, and with
# --test also what the tests and CI use. Safe to run again: apt-get skips what
# is already there.
#   bash scripts/install-deps.sh          build, run, make package
#   bash scripts/install-deps.sh --test   and the tests, fuzzing, package checks
set -euo pipefail

with_test=0
case "${1:-}" in
  "") ;;
  --test) with_test=1 ;;
  *)
    echo "usage: $0 [--test]" >&2
    exit 2
    ;;
esac

packages=(
  build-essential cmake ninja-build ccache pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  # the reply rules' regular expressions, with a match limit
  libpcre2-dev
  # lrelease builds the English catalogue; lupdate keeps it up to date
  qt6-l10n-tools
  qt6-qpa-plugins libjpeg62-turbo
  fonts-wqy-microhei fonts-dejavu-core
  # make package: dpkg-shlibdeps and the hardening flags
  dpkg-dev fakeroot file
)
if ((with_test)); then
  packages+=(
    # the smoke test's display and screenshot
    xvfb xauth x11-utils imagemagick
    # the AT-SPI test: a private session bus, the accessibility bus and
    # registry, and a client that reads the program as a screen reader does
    dbus-daemon dbus-bin at-spi2-core python3-pyatspi
    # network and mount namespaces, peers and clients the tests run
    iproute2 util-linux procps curl python3 socat chromium
    # the fuzz targets
    clang libclang-rt-14-dev
    # the format and static checks
    clang-format clang-tidy
    # scripts/check-package.sh
    desktop-file-utils appstream lintian
  )
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
