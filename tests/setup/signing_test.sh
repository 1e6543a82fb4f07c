#!/bin/sh
# The Windows downloads signed with a certificate made here and thrown away: every signed file
# (the setup program, its uninstaller, the service and the agent in it, the program in the
# portable zip, the NSIS plug-ins it unpacks) passes osslsigncode verify against that
# certificate, and the signed setup program installs, runs and uninstalls them under Wine.
#   signing_test.sh WORK_DIR PACK_SCRIPT RUN_E2E SETUP_TESTS_EXE WINE_WORK_DIR
# The Wine runs share the setup tests' prefix (WINE_WORK_DIR): one prefix made for both.
# Exits 77 (skipped) when openssl, osslsigncode, 7z, Wine or Xvfb is missing.
set -u
work="$1"
pack="$2"
run_e2e="$3"
tests="$4"
wine_work="$5"
for tool in openssl osslsigncode 7z; do
    command -v "$tool" >/dev/null 2>&1 || { echo "$tool not found: skipped"; exit 77; }
done
rm -rf "$work/pack" "$work/opened"
mkdir -p "$work/opened/setup" "$work/opened/zip"

openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=Throwaway Test Signer" \
    -addext keyUsage=digitalSignature -addext extendedKeyUsage=codeSigning \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>"$work/openssl.log" ||
    { cat "$work/openssl.log"; exit 1; }
cmake -DKV_PACK_DIR="$work/pack" -DKV_SIGN_CERT="$work/cert.pem" -DKV_SIGN_KEY="$work/key.pem" \
    -DKV_SIGN_TIMESTAMP_URL= -P "$pack" || exit 1

setup=$(ls "$work"/pack/*-setup.exe)
7z x -o"$work/opened/setup" "$setup" >/dev/null || exit 1
(cd "$work/opened/zip" && cmake -E tar xf "$work"/pack/*-portable.zip) || exit 1

status=0
verify() {
    if [ ! -f "$1" ]; then
        echo "FAIL: no $1"
        status=1
    elif ! osslsigncode verify -CAfile "$work/cert.pem" -in "$1" >"$work/verify.log" 2>&1; then
        echo "FAIL: $1 is not signed by the certificate"
        cat "$work/verify.log"
        status=1
    fi
}
verify "$setup"
verify "$work/opened/setup/Uninstall.exe"
verify "$work/opened/setup/vorn_kvusb_service.exe"
verify "$work/opened/setup/vorn_kvusb_agent.exe"
verify "$work/opened/zip/$(basename "$setup" -setup.exe)-portable/vorn_kvusb.exe"
# The plug-ins the setup program's script calls: System and nsExec, and any other it takes.
verify "$work/opened/setup/\$PLUGINSDIR/System.dll"
verify "$work/opened/setup/\$PLUGINSDIR/nsExec.dll"
for plugin in "$work/opened/setup/\$PLUGINSDIR/"*.dll; do
    verify "$plugin"
done
[ "$status" -eq 0 ] || exit 1

# Signed, they still install, run and uninstall.
sh "$run_e2e" "$wine_work" "$work/artefacts" "$tests" "$setup" \
    --gtest_filter='SetupTest.InstalledAgentIsTheShippedOne*:SetupTest.UninstallRemoves*'
