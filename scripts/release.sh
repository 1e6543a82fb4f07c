#!/bin/sh
# Makes a release in dist/: the Debian packages, the Windows setup program and portable zip,
# and SHA256SUMS, all of the version of project() in CMakeLists.txt. The Windows files are
# signed when KV_SIGN_CERT and KV_SIGN_KEY name a code-signing certificate and its key
# (KV_SIGN_TIMESTAMP_URL, when set, time-stamps the signatures).
# Builds of its own: build/deb and build/release-mingw.
set -eu
cd "$(dirname "$0")/.."
rm -rf dist
mkdir -p dist

echo "=== Debian packages"
sh scripts/build-debs.sh dist

echo "=== Windows setup program and portable zip"
windows=build/release-mingw
# The signing inputs are given again each time, so that a release is signed exactly when they
# are set now.
cmake -S . -B "$windows" --toolchain cmake/mingw-w64-posix.cmake -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF -DKV_SIGN_CERT="${KV_SIGN_CERT:-}" \
    -DKV_SIGN_KEY="${KV_SIGN_KEY:-}" -DKV_SIGN_TIMESTAMP_URL="${KV_SIGN_TIMESTAMP_URL:-}" \
    >build/release-mingw.log || { cat build/release-mingw.log; exit 1; }
grep "not signed" build/release-mingw.log || true
cmake --build "$windows" --target windows_packages -j "$(nproc)" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows/CMakeCache.txt")
cp "$windows/packaging/windows/vorn_kvusb-$version-setup.exe" \
    "$windows/packaging/windows/vorn_kvusb-$version-portable.zip" dist/

cd dist
sha256sum -- *.deb *.exe *.zip >SHA256SUMS
echo "=== dist/ (version $version)"
ls -l
