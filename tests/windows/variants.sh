#!/usr/bin/env bash
# Builds, beside a built package, the packages that tests/windows/run.ps1
# takes through the lifecycles Wine cannot show: the next build (its module
# differs by a byte) and the next build with a deferred action that fails
# late, after the binding, when FAIL_FOR_TEST is set. Both are made the way
# the build makes the package (installer/build_package.cmake over the
# configured .wxs and the staged files), as the lifecycle test makes its
# variants.
#
#     variants.sh BUILD_TREE OUT     (BUILD_TREE: build/ or build/arm64/)
set -euo pipefail
tree=$(cd "$1" && pwd)
out=$2
root=$(cd "$(dirname "$0")/../.." && pwd)
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ -f "$tree/quillbrook-arm64.msi" ]; then
    msi=$tree/quillbrook-arm64.msi wxs=$tree/installer/quillbrook-arm64.wxs
    options=(-DWITH_X86=yes -DARM64_PLATFORM=ON)
else
    msi=$tree/quillbrook.msi wxs=$tree/installer/quillbrook.wxs
    options=(-DWITH_X86=yes)
fi
stage=$tree/installer/files
# The files' version (MAJOR.MINOR.PATCH.BUILD), which the package build takes;
# the package's own version is MAJOR.MINOR.BUILD.
version=$(msiinfo export "$msi" File | tr -d '\r' | awk -F'\t' 'tolower($3) ~ /quillbrook\.dll$/ { print $5; exit }')
[[ $version =~ ^([0-9]+\.[0-9]+\.[0-9]+\.)([0-9]+)$ ]] || { echo "variants: the module's version is $version" >&2; exit 1; }
next=${BASH_REMATCH[1]}$((BASH_REMATCH[2] + 1))

package() { # MSI STAGE WXS
    cmake -DWIXL="$(command -v wixl)" -DMSIBUILD="$(command -v msibuild)" -DMSIINFO="$(command -v msiinfo)" \
        -DVERSION="$next" -DWXS="$3" -DMSI="$1" -DSTAGE="$2" "${options[@]}" \
        -P "$root/installer/build_package.cmake" >/dev/null
}

# The next build's files, staged beside the build's own: the .wxs names
# some sources by paths relative to the staging folder.
files=$(dirname "$stage")/windows-variant-files
trap 'rm -rf "$work" "$files"' EXIT
rm -rf "$files" && cp -r "$stage" "$files"
printf 'N' >>"$files/quillbrook.dll"
base=$(basename "$msi" .msi)
package "$out/$base-next.msi" "$files" "$wxs"
# The failing action comes after the binding (InstallFinalize is 6600), as
# in the lifecycle test's failing variant.
python3 - "$wxs" "$work/failing.wxs" <<'PY'
import sys
text = open(sys.argv[1]).read()
anchor = "<?include binding.wxi ?>"
if anchor not in text:
    sys.exit("variants: the .wxs has no " + anchor)
open(sys.argv[2], "w").write(text.replace(anchor, anchor + """
    <Binary Id="QuillbrookCli" SourceFile="quillbrook-cli.exe" />
    <CustomAction Id="FailInstallForTest" FileKey="quillbrook_cli.exe" ExeCommand="no-such-command"
                  Execute="deferred" Impersonate="no" Return="check" />
    <InstallExecuteSequence>
      <Custom Action="FailInstallForTest" Sequence="6595">FAIL_FOR_TEST AND NOT REMOVE="ALL"</Custom>
    </InstallExecuteSequence>"""))
PY
package "$out/$base-next-failing.msi" "$files" "$work/failing.wxs"
echo "variants: $base $version, next $next: $(cd "$out" && ls "$base"-next*.msi | tr '\n' ' ')"
