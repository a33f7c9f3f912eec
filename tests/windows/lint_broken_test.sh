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

# Each broken copy with the pattern its finding must match; linted all at
# once per kind (loading a linter takes most of the time).
declare -A patterns
expect() { patterns[$2]=$3; }

# check KIND: the lint of every broken copy of that kind exits 1, and each
# copy's findings match its pattern.
check() {
    local kind=$1 name output copies=()
    for name in "${!patterns[@]}"; do
        if [[ $name == *."$2" ]]; then copies+=("$work/$name"); fi
    done
    output=$("$node" "$here/lint.mjs" "$tools" "$kind" "${copies[@]}" 2>&1)
    [ $? -eq 1 ] || { echo "the $kind lint did not fail"; failures=$((failures + 1)); }
    for name in "${!patterns[@]}"; do
        [[ $name == *."$2" ]] || continue
        if grep -E "/$name${patterns[$name]}" <<<"$output" | head -1 | grep -q .; then
            echo "reported: $(grep -E "/$name${patterns[$name]}" <<<"$output" | head -1)"
        else
            echo "not reported: $name (expected /${patterns[$name]}/)"
            failures=$((failures + 1))
        fi
    done
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

check workflow yml
check powershell ps1

[ "$failures" -eq 0 ] || { echo "lint broken copies: $failures not reported"; exit 1; }
echo "lint broken copies: every mistake reported with its line"
