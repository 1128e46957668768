#!/bin/sh
# Installs the Debian packages the build and the tests need; does nothing
# when they are already there. Needs root (or sudo).
set -eu

PKGS="cmake make g++-mingw-w64-i686 binutils-mingw-w64-i686 googletest \
      wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick gcab osslsigncode openssl \
      python3 python3-pil python3-pefile procps fonts-liberation"

missing=""
for p in $PKGS; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" \
        || missing="$missing $p"
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO dpkg --add-architecture i386
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
