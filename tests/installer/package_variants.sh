# Package variants for the installer tests, built the way the build makes the
# package (installer/build_package.cmake over the configured .wxs and staged
# files), each checked against Windows Installer's rules
# (tests/installer/ice_check.py). Sourced; the caller sets root, work, wxs,
# package_script, package_command (an array), package_options (an array:
# -DWITH_X86=..., -DARM64_PLATFORM=ON) and a fail function.

# A package built from the configured .wxs (edited by EDIT, a Python
# expression on `text`) with the staged files of STAGE, at VERSION.
package() { # out version stage edit
    python3 -c 'import sys; text = open(sys.argv[1]).read(); open(sys.argv[2], "w").write(eval(sys.argv[3]))' \
        "$wxs" "$work/variant.wxs" "$4"
    "${package_command[@]}" -DVERSION="$2" -DWXS="$work/variant.wxs" -DMSI="$1" -DSTAGE="$3" \
        "${package_options[@]}" -P "$package_script" >/dev/null || fail "cannot build $1"
    # Windows Installer's rules hold for every variant too.
    python3 "$root/tests/installer/ice_check.py" "$1" >"$work/ice.txt" || fail "$(cat "$work/ice.txt")"
}

# The edit of the variant with a deferred action that fails when
# FAIL_FOR_TEST is set: at the end of an install, after the binding, and in
# a removal once the files are gone.
failing_edit() {
    cat <<'EDIT'
text.replace("<?include binding.wxi ?>", """<?include binding.wxi ?>
    <Binary Id="QuillbrookCli" SourceFile="quillbrook-cli.exe" />
    <CustomAction Id="FailInstallForTest" FileKey="quillbrook_cli.exe" ExeCommand="no-such-command"
                  Execute="deferred" Impersonate="no" Return="check" />
    <CustomAction Id="FailRemovalForTest" FileKey="quillbrook_cli.exe" ExeCommand="no-such-command"
                  Execute="deferred" Impersonate="no" Return="check" />
    <InstallExecuteSequence>
      <Custom Action="FailInstallForTest" Sequence="6595">FAIL_FOR_TEST AND NOT REMOVE="ALL"</Custom>
      <Custom Action="FailRemovalForTest" Sequence="3510">FAIL_FOR_TEST AND REMOVE="ALL"</Custom>
    </InstallExecuteSequence>""")
EDIT
}
