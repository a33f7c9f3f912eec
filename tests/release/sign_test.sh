#!/usr/bin/env bash
# scripts/sign with a throwaway self-signed certificate made here: each signed
# file verifies, a signed module changed by one byte does not, and without a
# certificate nothing is signed.
# usage: sign_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$build/sign-test
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -keyout key.pem -out cert.pem -days 2 \
    -subj "/CN=Quillbrook test signer" -addext extendedKeyUsage=codeSigning 2>/dev/null
openssl pkcs12 -export -inkey key.pem -in cert.pem -out signer.pfx -passout pass:s3cret
cp "$build/quillbrook.dll" "$build/quillbrook-cli.exe" "$build/quillbrook.msi" .
verify() { osslsigncode verify -CAfile cert.pem -in "$1" >"$1.verify" 2>&1; }

# Unsigned by default: no certificate, no change.
before=$(md5sum quillbrook.dll)
if QUILLBROOK_SIGN_PFX='' "$root/scripts/sign" quillbrook.dll 2>/dev/null; then
    fail "signing without a certificate succeeded"
fi
[ "$(md5sum quillbrook.dll)" = "$before" ] || fail "a failed signing changed the file"
! verify quillbrook.dll || fail "the build's module is signed already"

# The password from the environment, and from a file.
QUILLBROOK_SIGN_PFX=signer.pfx QUILLBROOK_SIGN_PASSWORD=s3cret "$root/scripts/sign" quillbrook.dll quillbrook-cli.exe
echo s3cret >password
QUILLBROOK_SIGN_PFX=signer.pfx QUILLBROOK_SIGN_PASSWORD_FILE=password "$root/scripts/sign" quillbrook.msi
for file in quillbrook.dll quillbrook-cli.exe quillbrook.msi; do
    verify "$file" || fail "$file does not verify: $(tail -n 3 "$file.verify")"
    grep -q 'digest algorithm *: SHA256' "$file.verify" || fail "$file: no SHA-256 digest: $(cat "$file.verify")"
done

# One byte changed after signing, in the middle of the module.
offset=$(($(stat -c %s quillbrook.dll) / 2))
byte=$(od -An -tu1 -j"$offset" -N1 quillbrook.dll | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of=quillbrook.dll bs=1 seek="$offset" conv=notrunc 2>/dev/null
if verify quillbrook.dll; then
    fail "a module changed after signing still verifies"
fi
echo "signed and verified: quillbrook.dll, quillbrook-cli.exe, quillbrook.msi; a changed byte fails"
