#!/usr/bin/env bash
# Checks of the shipped files of one build tree, on the Linux side with
# LLVM's tools, one case per run:
#   guarded BUILD NAME      every object of NAME that this build and setup
#                           compiled (NAME.inputs) was compiled with Control
#                           Flow Guard: lld marks a module instrumented even
#                           when none was, so the objects' own mark is read
#                           (bit 0x800 of their @feat.00 symbol)
#   symbols BUILD NAME      NAME's CodeView record names NAME.pdb beside it
#                           with the PDB's GUID and age; an exported function's
#                           address resolves to its source file and line; no
#                           DWARF is left in NAME
#   notices BUILD NAME      THIRD-PARTY-NOTICES.txt names every static library
#                           the link of NAME took members from (NAME.libs)
#   package BUILD NAME      the package NAME installs THIRD-PARTY-NOTICES.txt,
#                           as it is in the repository, beside the module
#   signing BUILD NAME      scripts/sign, with a throwaway self-signed
#                           certificate, signs copies of the module, the
#                           console program and the package NAME so that
#                           osslsigncode verifies them; one byte changed in
#                           a signed file fails the verification
# NAME is a file of BUILD: quillbrook.dll, quillbrook-cli.exe or a package.
set -euo pipefail
case=$1
build=$(cd "$2" && pwd)
name=$3
root=$(cd "$(dirname "$0")/../.." && pwd)
file=$build/$name
base=${file%.*}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
[ -f "$file" ] || fail "$file not built"

guarded() {
    [ -s "$base.inputs" ] || fail "$base.inputs is missing or empty"
    # Each object (archive members included) with no @feat.00 value that has
    # the bit, then the number of objects read. Compiled resources (.res)
    # hold no code.
    local report
    report=$(xargs -d '\n' llvm-readobj-16 --symbols <"$base.inputs" | awk '
        function close_object() { if (object != "" && !guarded && object !~ /\.res\)?$/) print object }
        /^File: / { close_object(); object = substr($0, 7); guarded = 0; objects++ }
        /Name: @feat\.00$/ { getline; sub(/^ *Value: /, ""); if (int($0 / 2048) % 2 == 1) guarded = 1 }
        END { close_object(); print objects + 0 }')
    local objects
    objects=$(tail -n 1 <<<"$report")
    [ "$objects" -gt 0 ] || fail "no objects read from $base.inputs"
    [ "$(wc -l <<<"$report")" -eq 1 ] || fail "compiled without -mguard=cf: $(head -n -1 <<<"$report" | tr '\n' ' ')"
    echo "$objects objects of $name compiled with Control Flow Guard"
}

symbols() {
    local pdb=$build/${name%.*}.pdb
    [ -f "$pdb" ] || fail "$pdb missing"
    local record guid age named
    record=$(llvm-readobj-16 --coff-debug-directory "$file")
    named=$(sed -n 's/^ *PDBFileName: //p' <<<"$record")
    [ "$named" = "$(basename "$pdb")" ] || fail "CodeView record names '$named', not $(basename "$pdb")"
    # The record's GUID bytes, in the PDB's GUID notation (three little-endian
    # fields, then eight bytes in order).
    guid=$(sed -n 's/^ *PDBGUID: (\(.*\))/\1/p' <<<"$record" | awk '{
        printf "{%s%s%s%s-%s%s-%s%s-%s%s-%s%s%s%s%s%s}", $4,$3,$2,$1, $6,$5, $8,$7, $9,$10, $11,$12,$13,$14,$15,$16 }')
    age=$(sed -n 's/^ *PDBAge: //p' <<<"$record")
    local summary
    summary=$(llvm-pdbutil-16 dump --summary "$pdb")
    grep -qx " *GUID: $guid" <<<"$summary" || fail "GUID $guid of $name is not the PDB's: $(grep GUID <<<"$summary")"
    grep -qx " *Age: $age" <<<"$summary" || fail "age $age of $name is not the PDB's"
    # A function of the project's sources resolves to its file and line:
    # an exported one (DllGetClassObject, or the custom actions' BindFlac) or
    # the program's wmain (found by name in the PDB's public symbols, as
    # section:offset).
    local base_address rva where function expected
    base_address=$(llvm-readobj-16 --file-headers "$file" | sed -n 's/^ *ImageBase: //p')
    if [[ $name == *.dll ]]; then
        function=DllGetClassObject
        [ "$name" != quillbrook-actions.dll ] || function=BindFlac
        rva=$(llvm-readobj-16 --coff-exports "$file" | grep -A1 "Name: $function\$" | sed -n 's/^ *RVA: //p')
    else
        function=wmain
        local address section offset
        address=$(llvm-pdbutil-16 dump --publics "$pdb" | grep -A1 '`wmain`$' | sed -n 's/.*addr = //p')
        section=$((10#${address%%:*})) offset=$((10#${address##*:}))
        rva=$(llvm-readobj-16 --sections "$file" | grep -A3 "^ *Number: $section\$" | sed -n 's/^ *VirtualAddress: //p')
        [ -n "$rva" ] && rva=$((rva + offset))
    fi
    [ -n "$rva" ] || fail "$function not found in $name"
    where=$(llvm-symbolizer-16 --obj="$file" "$(printf '0x%x' $((base_address + rva)))")
    # (Inlined frames come first; ARM64 may give the outer frame no line.)
    grep -qE '^/quillbrook/[^:]+\.(cpp|h):[1-9][0-9]*:' <<<"$where" || fail "$function resolved to: $where"
    if llvm-readobj-16 --sections "$file" | grep -q 'Name: \.debug'; then
        fail "$name still carries DWARF sections"
    fi
    echo "$name: $(head -n 2 <<<"$where" | tr '\n' ' ')-> $(basename "$pdb") $guid age $age"
}

notices() {
    local notices=$root/THIRD-PARTY-NOTICES.txt library missing=()
    [ -s "$base.libs" ] || fail "$base.libs is missing or empty"
    # This build's own libraries (objects.a holds the target's own objects)
    # are the project's; deps/ holds the build's copies of dependencies.
    while read -r library; do
        grep -v "^$build/deps/" "$base.inputs" | grep -q "^$build/.*/$library\$\|^$build/$library\$" && continue
        grep -qF "$library" "$notices" || missing+=("$library")
    done <"$base.libs"
    [ ${#missing[@]} -eq 0 ] || fail "THIRD-PARTY-NOTICES.txt does not name: ${missing[*]}"
    echo "$(wc -l <"$base.libs") static libraries of $name named in THIRD-PARTY-NOTICES.txt"
}

package() {
    local notices
    unpacked=$(mktemp -d)
    trap 'rm -rf "$unpacked"' EXIT
    msiextract -C "$unpacked" "$file" >/dev/null
    notices=$(find "$unpacked" -name THIRD-PARTY-NOTICES.txt)
    [ -n "$notices" ] || fail "$name installs no THIRD-PARTY-NOTICES.txt"
    [ "$(wc -l <<<"$notices")" -eq 1 ] || fail "$name installs more than one THIRD-PARTY-NOTICES.txt"
    cmp -s "$notices" "$root/THIRD-PARTY-NOTICES.txt" || fail "$name installs another THIRD-PARTY-NOTICES.txt"
    [ -f "$(dirname "$notices")/quillbrook.dll" ] || fail "$name installs the notices apart from the module"
    echo "$name installs ${notices#"$unpacked"/}"
}

signing() {
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    openssl req -x509 -newkey rsa:2048 -sha256 -days 2 -nodes -subj "/CN=Quillbrook test signing" \
        -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
    printf 'throwaway' >"$scratch/password"
    openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -out "$scratch/test.pfx" \
        -passout file:"$scratch/password"
    local files=() copy
    for copy in quillbrook.dll quillbrook-cli.exe "$name"; do
        cp "$build/$copy" "$scratch/$copy"
        files+=("$scratch/$copy")
    done
    QUILLBROOK_SIGN_PFX=$scratch/test.pfx QUILLBROOK_SIGN_PASSWORD_FILE=$scratch/password \
        "$root/scripts/sign" --files "${files[@]}" 2>/dev/null
    local file size
    for file in "${files[@]}"; do
        osslsigncode verify -CAfile "$scratch/cert.pem" -in "$file" >"$scratch/verify.log" 2>&1 ||
            fail "$(basename "$file") does not verify: $(tail -n 3 "$scratch/verify.log")"
        grep -qi 'digest algorithm *: *sha256' "$scratch/verify.log" || fail "$(basename "$file") is not signed with SHA-256"
        # One byte in the middle of the signed content, flipped.
        size=$(stat -c %s "$file")
        cp "$file" "$file.changed"
        printf '\x5a' | cmp -s - <(dd if="$file" bs=1 skip=$((size / 3)) count=1 2>/dev/null) &&
            byte='\xa5' || byte='\x5a'
        printf "$byte" | dd of="$file.changed" bs=1 seek=$((size / 3)) conv=notrunc 2>/dev/null
        if osslsigncode verify -CAfile "$scratch/cert.pem" -in "$file.changed" >/dev/null 2>&1; then
            fail "$(basename "$file") with one byte changed still verifies"
        fi
    done
    echo "signed and verified: ${files[*]##*/}; each fails verification once one byte is changed"
}

"$case"
