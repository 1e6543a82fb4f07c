# A Debian root built once from the archive that apt uses here and kept in a cache folder,
# sourced by the tests' make_root.sh scripts.
#
# root_cache CACHE PRODUCT
#   takes CACHE's lock for the rest of the script; exits 0 when CACHE/PRODUCT was built by
#   this make_root.sh from this archive, 77 where it cannot be built (no mmdebstrap, not
#   root). Otherwise $stamp is what CACHE/root.stamp says once the root is built.
# build_root TARGET PACKAGE... [-- MMDEBSTRAP_OPTION...]
#   minbase and the packages, installed by dpkg without fsync (eatmydata) and without
#   documentation, which no test reads.

root_cache() {
    command -v mmdebstrap >/dev/null || { echo "no mmdebstrap: run scripts/install-deps.sh"; exit 77; }
    # Where apt here takes Debian from: each suite as a sources.list line.
    sources=$(apt-get indextargets --format '$(ORIGIN) $(REPO_URI) $(RELEASE) $(COMPONENT)' \
        "Identifier: Packages" | awk '$1 == "Debian" { print "deb " $2 " " $3 " " $4 }' | sort -u)
    [ -n "$sources" ] || { echo "apt knows no Debian archive (apt-get update?)"; exit 1; }
    stamp=$( (cat "$0"; echo "$*"; echo "$sources") | sha256sum | cut -c1-16)
    mkdir -p "$1"
    exec 9> "$1/root.lock"
    flock 9
    [ "$(cat "$1/root.stamp" 2>/dev/null)" = "$stamp" ] && [ -e "$1/$2" ] && exit 0
    [ "$(id -u)" -eq 0 ] || { echo "building $1/$2 needs root"; exit 77; }
    rm -rf "${1:?}/$2" "$1/root.stamp"
}

build_root() {
    local target=$1 packages="" suite
    shift
    while [ $# -gt 0 ] && [ "$1" != -- ]; do packages="$packages,$1"; shift; done
    [ $# -eq 0 ] || shift
    suite=$(echo "$sources" | awk 'NR == 1 { sub(/-.*/, "", $3); print $3 }')
    echo "building $target ($suite)"
    echo "$sources" | mmdebstrap --variant=minbase --quiet \
        --hook-dir=/usr/share/mmdebstrap/hooks/eatmydata --include="${packages#,}" \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --dpkgopt='path-exclude=/usr/share/locale/*' --dpkgopt='path-exclude=/usr/share/info/*' \
        --customize-hook='rm -rf "$1"/var/cache/apt/* "$1"/var/lib/apt/lists/*' \
        "$@" "$suite" "$target" -
}
