#!/usr/bin/env bash
# The lints must report each mistake in a deliberately broken copy of the
# workflow and of run.ps1, with the line it is on.
#
#     lint_broken_test.sh NODE TOOLS
set -uo pipefail
node=$1 tools=$2
here=$(cd "$(dirname "$0")" && pwd)
workflow=$here/../../.github/workflows/windows.yml
script=$here/run.ps1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# expect KIND NAME PATTERN: the lint of the broken copy NAME exits 1 and
# prints a finding that matches PATTERN.
expect() {
    local kind=$1 name=$2 pattern=$3 output
    output=$("$node" "$here/lint.mjs" "$tools" "$kind" "$work/$name" 2>&1)
    if [ $? -ne 1 ] || ! grep -qE "$pattern" <<<"$output"; then
        echo "not reported: $name (expected /$pattern/):"
        printf '%s\n' "$output" | head -5
        failures=$((failures + 1))
    else
        echo "reported: $name: $(grep -E "$pattern" <<<"$output" | head -1)"
    fi
}

# break SOURCE NAME SED-EXPRESSION: a copy with one change, which must apply.
break_copy() {
    sed "$3" "$1" >"$work/$2"
    if cmp -s "$1" "$work/$2"; then
        echo "the change for $2 does not apply"
        failures=$((failures + 1))
    fi
}

break_copy "$workflow" input-typo.yml 's/if-no-files-found: error/if-no-file-found: error/'
expect workflow input-typo.yml ':[0-9]+:[0-9]+: input "if-no-file-found" is not defined'
break_copy "$workflow" no-such-release.yml '0,/actions\/checkout@v4/s//actions\/checkout@v44/'
expect workflow no-such-release.yml ':[0-9]+:[0-9]+: actions/checkout@v44 is not a release'
break_copy "$workflow" yaml-error.yml 's/^    runs-on: windows-2025/    runs-on: [windows-2025/'
expect workflow yaml-error.yml ':[0-9]+:[0-9]+: could not parse as YAML'
break_copy "$workflow" expression.yml 's/if: always()/if: always(/'
expect workflow expression.yml ':[0-9]+:[0-9]+: .*\[expression\]'
break_copy "$workflow" needs.yml '0,/needs: build/s//needs: bulid/'
expect workflow needs.yml ':[0-9]+:[0-9]+: .*"bulid" which does not exist'

break_copy "$script" try-without-catch.ps1 '0,/^    } catch {$/s//    }/'
expect powershell try-without-catch.ps1 ':[0-9]+:[0-9]+: (try without catch or finally|syntax error)'
break_copy "$script" pipeline-chain.ps1 's/^\$before = Save-Registry .before.$/New-Item -Force -Path $Logs \&\& $before = Save-Registry "before"/'
expect powershell pipeline-chain.ps1 ':[0-9]+:[0-9]+: && or \|\| between pipelines'
break_copy "$script" unclosed.ps1 '0,/^function Check(\[string\] \$Name, \[scriptblock\] \$Body) {$/s//function Check([string] $Name, [scriptblock] $Body) { {/'
expect powershell unclosed.ps1 ':[0-9]+:[0-9]+: (missing|syntax error)'

[ "$failures" -eq 0 ] || { echo "lint broken copies: $failures not reported"; exit 1; }
echo "lint broken copies: every mistake reported with its line"
