#!/bin/sh
# Installs the Debian packages the build and the tests need; does nothing
# when they are already there. Needs root (or sudo).
set -eu

PKGS="cmake make g++ g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64-win32 \
      googletest libgtest-dev zlib1g-dev cabextract \
      wine wine32:i386 wine64 wine32-preloader:i386 xvfb xauth x11-utils imagemagick gcab \
      osslsigncode openssl python3 python3-pil python3-pefile procps fonts-liberation \
      libengine-pkcs11-openssl softhsm2 opensc"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

install_missing() {
    missing=""
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" \
            || missing="$missing $p"
    done
    [ -z "$missing" ] && return 0
    $SUDO dpkg --add-architecture i386
    # A mirror caught mid-sync fails one index now and then: try again, and
    # go on with what was fetched; the install itself still has to succeed.
    for attempt in 1 2 3; do
        $SUDO apt-get update -q && break
        sleep 10
    done || true
    # When one architecture's index of an update suite could not be fetched,
    # its other architecture offers newer versions of libraries that both
    # must have alike: the release's own suite then serves both.
    $SUDO apt-get install -y -q --no-install-recommends $missing ||
        $SUDO apt-get install -y -q --no-install-recommends \
            -o APT::Default-Release="$(. /etc/os-release && echo "$VERSION_CODENAME")" $missing
}

installed_version() {
    dpkg-query -W -f='${Status} ${Version}' "$1" 2>/dev/null | sed -n 's/^install ok installed //p'
}

# Debian 12's backports, for the tools whose Debian 12 version is too old.
codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
from_backports() {
    printf '%s\n' "Types: deb" "URIs: http://deb.debian.org/debian" "Suites: bookworm-backports" \
        "Components: main" "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
        $SUDO tee /etc/apt/sources.list.d/zv-bookworm-backports.sources >/dev/null
    $SUDO apt-get update -q || true
    $SUDO apt-get install -y -q --no-install-recommends -t bookworm-backports "$@"
}

install_missing $PKGS

# The tests add time stamps to signed files (`osslsigncode add -TSA-...`),
# which osslsigncode has from 2.9 on; Debian 12 itself has 2.5, its
# backports 2.9.
old_osslsigncode() {
    version=$(osslsigncode --version 2>/dev/null |
        sed -n '1s/^osslsigncode \([0-9]*\)\.\([0-9]*\).*/\1 \2/p')
    [ -n "$version" ] || return 0
    set -- $version
    [ "$1" -lt 2 ] || { [ "$1" -eq 2 ] && [ "$2" -lt 9 ]; }
}
if old_osslsigncode && [ "$codename" = bookworm ]; then
    from_backports osslsigncode
fi

# Some kernels run no 32-bit Linux programs (ia32 emulation off), and the
# 32-bit Wine loader is one. There qemu's user-mode emulator runs them,
# registered with the kernel for i386 ELF files as zv-i386 (which then
# tells that the loader needs it: the loader itself runs). (Wine's
# preloader, above, keeps that fast: without it Wine probes its address
# space in tens of thousands of small mappings, each slow under the
# emulator.)
binfmt=/proc/sys/fs/binfmt_misc
if [ -e $binfmt/zv-i386 ] || ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    # Under Debian 12's own qemu (7.2) Wine crashes at random ("Got
    # unexpected trap -1"); under 10, from its backports, it did not.
    qemu=$(installed_version qemu-user-static)
    if [ "$codename" != bookworm ]; then
        install_missing qemu-user-static
    elif [ -z "$qemu" ] || dpkg --compare-versions "$qemu" lt 1:10; then
        from_backports qemu-user-static
        # "F" below keeps the emulator that was there when registered.
        [ ! -e $binfmt/zv-i386 ] || echo -1 | $SUDO tee $binfmt/zv-i386 >/dev/null
    fi
    [ -e $binfmt/register ] || $SUDO mount -t binfmt_misc binfmt_misc $binfmt
    # Executables and shared objects; "F" opens the emulator at once, so
    # that it serves every later process whatever its mount namespace.
    [ -e $binfmt/zv-i386 ] || printf '%s' ':zv-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
        | $SUDO tee /proc/sys/fs/binfmt_misc/register >/dev/null
    /usr/lib/wine/wine --version >/dev/null
fi
