#!/bin/sh
# sign.sh [IN [OUT]]
#
# Signs a setup executable with Authenticode (SHA-256) through osslsigncode.
# IN defaults to build/setup.exe; OUT defaults to IN, which is then replaced
# only once the signed file is complete.
#
# The publisher names the certificate and its key in the environment:
#   SIGN_CERT           certificate file (PEM or DER), with the chain up to the
#                       root if the publisher has one
#   SIGN_KEY            private key file (PEM or DER)
#   SIGN_PASS           the key's password, if it has one (given to
#                       osslsigncode on its standard input, never on a
#                       command line)
#   SIGN_TIMESTAMP_URL  optional RFC 3161 time-stamp server
# Sign after every build step: signing must come last, since any later
# change to the file breaks the signature.
set -e
in=${1:-build/setup.exe}
out=${2:-$in}

fail() { echo "sign: $*" >&2; exit 1; }

[ -n "$SIGN_CERT" ] || fail "SIGN_CERT must name the certificate file (and SIGN_KEY its key)"
[ -n "$SIGN_KEY" ] || fail "SIGN_KEY must name the private key file"
[ -r "$SIGN_CERT" ] || fail "cannot read the certificate $SIGN_CERT"
[ -r "$SIGN_KEY" ] || fail "cannot read the key $SIGN_KEY"
[ -r "$in" ] || fail "cannot read $in"
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (make deps installs it)"

temp="$out.signing"
rm -f "$temp"
trap 'rm -f "$temp"' EXIT INT TERM
set -- -certs "$SIGN_CERT" -key "$SIGN_KEY" -h sha256 -n "Murmelist 2.0 setup"
[ -n "$SIGN_TIMESTAMP_URL" ] && set -- "$@" -ts "$SIGN_TIMESTAMP_URL"
if [ -n "$SIGN_PASS" ]; then
    printf '%s' "$SIGN_PASS" | osslsigncode sign "$@" -readpass - -in "$in" -out "$temp" >/dev/null ||
        fail "osslsigncode could not sign $in (wrong password?)"
else
    osslsigncode sign "$@" -in "$in" -out "$temp" >/dev/null ||
        fail "osslsigncode could not sign $in"
fi
mv -f "$temp" "$out"
echo "sign: signed $out"
