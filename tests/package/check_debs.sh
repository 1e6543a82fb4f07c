#!/bin/sh
# Builds the Debian packages of a build tree and checks each: lintian reports no error, it
# holds the files listed in <package>.files beside this script and no others, its programs
# say its version, and dpkg-shlibdeps gave it its library dependencies. Lintian's warnings
# are printed, not failed on.
#   check_debs.sh BUILD_DIR DEB_DIR VERSION LIST_DIR
# Exits 77 (skipped) when lintian is missing.
set -u
build="$1"
debs="$2"
version="$3"
lists="$4"
command -v lintian >/dev/null 2>&1 || { echo "lintian not found: skipped"; exit 77; }
cmake --build "$build" --target linux_packages >/dev/null || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAIL: $*"
    status=1
}
arch=$(dpkg --print-architecture)
for package in kvusb-mirror kvusbtool kvusb-gadget; do
    deb="$debs/${package}_${version}_$arch.deb"
    if [ ! -f "$deb" ]; then
        fail "$package: no $deb"
        continue
    fi
    lintian --fail-on error --tag-display-limit 0 "$deb" || fail "$package: lintian errors"

    dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort \
        >"$work/$package.files"
    diff -u "$lists/$package.files" "$work/$package.files" || fail "$package: other files"

    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$package: version"
    dpkg-deb -f "$deb" Depends | grep -q 'libc6 (>=' || fail "$package: no library dependencies"
    dpkg-deb -x "$deb" "$work/$package"
    for program in "$work/$package/usr/bin/"*; do
        said=$("$program" --version)
        [ "$said" = "${program##*/} $version" ] || fail "$package: --version says \"$said\""
    done
done

# The user unit starts the program where the package puts it.
unit="$work/kvusb-mirror/usr/lib/systemd/user/kvusb-mirror.service"
grep -qx 'ExecStart=/usr/bin/kvusb-mirror --quiet' "$unit" || fail "the unit's ExecStart"
[ "$status" -eq 0 ] && echo "The packages are sound."
exit "$status"
