# Parses PowerShell scripts with the parser of the PowerShell that runs this
# (Windows PowerShell 5.1 in the workflow, the PowerShell run.ps1 is written
# for) and fails on any error, before anything is installed:
#
#     powershell -ExecutionPolicy Bypass -File tests\windows\parse.ps1 [FILE...]
#
# Without files, the scripts beside this one. Prints one line per error.
param([Parameter(ValueFromRemainingArguments = $true)] [string[]] $Files = @())
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 2

if ($Files.Count -eq 0) {
    $Files = @(Get-ChildItem -Path $PSScriptRoot -Filter '*.ps1' | ForEach-Object { $_.FullName })
}
$errorCount = 0
foreach ($file in $Files) {
    $tokens = $null
    $errors = $null
    $path = (Resolve-Path $file).Path
    [System.Management.Automation.Language.Parser]::ParseFile($path, [ref] $tokens, [ref] $errors) | Out-Null
    foreach ($parseError in $errors) {
        $start = $parseError.Extent.StartScriptPosition
        Write-Host "$($path):$($start.LineNumber):$($start.ColumnNumber): $($parseError.Message)"
        $errorCount++
    }
}
Write-Host "PowerShell $($PSVersionTable.PSVersion): $($Files.Count) files, $errorCount errors"
if ($errorCount -ne 0) { exit 1 }
exit 0
