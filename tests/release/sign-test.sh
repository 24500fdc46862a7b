#!/bin/sh
# sign-test.sh SOURCE_DIR SETUP_EXE host PKGBUILD
# sign-test.sh SOURCE_DIR SETUP_EXE wine FIRSTPAGE_EXE WINE_ARCH WINEPREFIX
#
# Signs copies of setup.exe with a throwaway certificate through
# tools/sign.sh. On the host: checks what signing does and refuses, that
# the signatures verify, and that a signed setup carries a right image
# checksum (pkgbuild --check). Under Wine: starts a signed setup until its
# welcome page shows. The build's own setup.exe is never touched.
set -u
src=$1 setup=$2 mode=$3
case $mode in
    host) pkgbuild=$4 ;;
    wine) firstpage=$4 arch=$5 prefix=$6 ;;
    *) echo "usage: sign-test.sh SOURCE_DIR SETUP_EXE host PKGBUILD | wine FIRSTPAGE ARCH PREFIX" >&2; exit 2 ;;
esac
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM
failures=0 passed=0
check() {  # check NAME COMMAND...: one case; its output is kept for a failure
    name=$1; shift
    if "$@" >"$work/out" 2>&1; then
        passed=$((passed + 1))
    else
        failures=$((failures + 1)); echo "FAILED: $name"; sed 's/^/    /' "$work/out"
    fi
}
refuses() { ! "$@"; }

cd "$work"
openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -keyout key.pem -out cert.pem \
    -subj "/CN=Murmelist Test Publisher" -addext "keyUsage=digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1 || { echo "openssl failed"; exit 1; }
openssl pkey -in key.pem -aes256 -passout pass:s3cret -out key-locked.pem 2>/dev/null
cp "$setup" unsigned.exe
sign="$src/tools/sign.sh"

if [ "$mode" = wine ]; then
    # The signature lies behind the image; the loader, the resources and
    # the setup's check of its own file must not mind it.
    check "signs with a plain key" env SIGN_CERT=cert.pem SIGN_KEY=key.pem sh "$sign" unsigned.exe signed.exe
    check "signed setup shows its first page" \
        "$src/tools/wine-run.sh" "$arch" "$prefix" "$firstpage" "Z:$(pwd | tr / '\\')\\signed.exe" 30000
else
    # Without a certificate named nothing is written.
    check "refuses without SIGN_CERT" refuses env -u SIGN_CERT SIGN_KEY=key.pem sh "$sign" unsigned.exe none.exe
    check "no output when refused" test ! -e none.exe

    check "signs with a plain key" env SIGN_CERT=cert.pem SIGN_KEY=key.pem sh "$sign" unsigned.exe signed.exe
    check "signature verifies" osslsigncode verify -CAfile cert.pem -in signed.exe
    check "signed setup's checksum is right" "$pkgbuild" --check signed.exe
    check "signer is the publisher" sh -c 'osslsigncode verify -CAfile cert.pem -in signed.exe | grep -q "Murmelist Test Publisher"'
    check "input left unsigned" refuses osslsigncode verify -CAfile cert.pem -in unsigned.exe

    check "signs with a locked key" env SIGN_CERT=cert.pem SIGN_KEY=key-locked.pem SIGN_PASS=s3cret \
        sh "$sign" unsigned.exe signed-locked.exe
    check "locked-key signature verifies" osslsigncode verify -CAfile cert.pem -in signed-locked.exe
    check "refuses a wrong password" refuses env SIGN_CERT=cert.pem SIGN_KEY=key-locked.pem SIGN_PASS=wrong \
        sh "$sign" unsigned.exe wrong.exe
    check "no output for a wrong password" test ! -e wrong.exe

    # In place, as make sign does it.
    cp unsigned.exe inplace.exe
    check "signs in place" env SIGN_CERT=cert.pem SIGN_KEY=key.pem sh "$sign" inplace.exe
    check "in-place signature verifies" osslsigncode verify -CAfile cert.pem -in inplace.exe
    check "in-place signed checksum is right" "$pkgbuild" --check inplace.exe

    # A changed byte anywhere in the image (here in the payload) breaks it.
    cp signed.exe tampered.exe
    size=$(stat -c %s tampered.exe)
    printf 'X' | dd of=tampered.exe bs=1 seek=$((size / 2)) conv=notrunc 2>/dev/null
    check "tampering is detected" refuses osslsigncode verify -CAfile cert.pem -in tampered.exe
fi

echo "signing: $passed passed, $failures failed"
[ "$failures" = 0 ]
