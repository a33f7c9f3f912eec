# Proves Quillbrook on a Windows machine, with one command from an
# administrator PowerShell prompt, on a machine you can throw away (it
# installs, upgrades and removes the product and registers COM classes):
#
#     powershell -ExecutionPolicy Bypass -File tests\windows\run.ps1 -Package PROOF\quillbrook.msi
#     powershell -ExecutionPolicy Bypass -File tests\windows\run.ps1 -Package PROOF\arm64\quillbrook-arm64.msi `
#         -RefusedPackage PROOF\quillbrook.msi
#
# PROOF is the folder tests/windows/prepare.sh fills on the build machine: the
# package's build tree (its test programs, fixtures and package variants)
# beside the package. Prints one line per check and "N passed, M failed";
# exits 1 if any check failed. Logs, the registry snapshots and any crash
# dump go to -Output.
param(
    [Parameter(Mandatory = $true)] [string] $Package,
    [string] $RefusedPackage = '',
    [string] $Output = (Join-Path $env:TEMP 'quillbrook-proof')
)
$ErrorActionPreference = 'Stop'
Set-StrictMode -Version 2

$Package = (Resolve-Path $Package).Path
$Tree = Split-Path -Parent $Package
$Base = [IO.Path]::GetFileNameWithoutExtension($Package)
$NextPackage = Join-Path $Tree "windows-variants\$Base-next.msi"
$FailingPackage = Join-Path $Tree "windows-variants\$Base-next-failing.msi"
# The x86 tree: beside the x64 package in its tree, beside the ARM64 tree
# for the ARM64 package (which carries the x86 module too).
$X86Tree = Join-Path $Tree 'x86'
if (-not (Test-Path (Join-Path $X86Tree 'quillbrook.dll'))) { $X86Tree = Join-Path (Split-Path -Parent $Tree) 'x86' }
$HasX86 = Test-Path (Join-Path $X86Tree 'quillbrook.dll')
$Installed = Join-Path $env:ProgramFiles 'Quillbrook'
$Logs = Join-Path $Output 'logs'
$Dumps = Join-Path $Output 'dumps'
New-Item -ItemType Directory -Force -Path $Logs, $Dumps | Out-Null
$Output = (Resolve-Path $Output).Path
$Logs = Join-Path $Output 'logs'
$Dumps = Join-Path $Output 'dumps'
$script:passed = 0
$script:failed = 0

# GoogleTest cases that compare with the reference tools (metaflac, flac) on
# the build machine: they cannot run here.
$LinuxToolTests = @(
    'DllAudio.ReadsWhatMetaflacReportsThroughTheExportedClassObject',
    'DllTags.EveryTagPropertyAnswersWhatMetaflacWrote',
    'DllTags.AudioPropertiesOfTaggedFilesFollowTheStreamInfo',
    'DllTags.ListsTheAudioKeysAndTheKeyOfEveryTaggedField',
    'CommitFiles.AllFourteenTagsInPlaceWithinThePadding',
    'CommitFiles.AllFourteenTagsByRewriteWhenThereIsNoPadding',
    'CommitFiles.Id3v2TagInFrontSurvivesAnInPlaceEdit',
    'CommitFiles.Id3v2TagInFrontSurvivesARewrite'
)

# The keys the product touches, in both registry views.
$RegistryKeys = @(
    'SOFTWARE\Classes\CLSID\{618732AA-B37D-4A22-95D6-F9907396DC7D}',
    'SOFTWARE\Classes\CLSID\{D8C0CB47-F010-4113-858F-E98D7D67AE8D}',
    'SOFTWARE\Classes\AppID\{294E4F4B-F6B5-4685-BDED-2C7623106621}',
    'SOFTWARE\Classes\TypeLib\{795131CE-63F4-4DBF-A65A-8D70F437A83F}',
    'SOFTWARE\Classes\.flac',
    'SOFTWARE\Classes\SystemFileAssociations\.flac',
    'SOFTWARE\Microsoft\Windows\CurrentVersion\PropertySystem\PropertyHandlers\.flac',
    'SOFTWARE\Quillbrook'
)

# The processes whose crashes Windows Error Reporting is to keep as dumps.
$DumpedPrograms = @('explorer.exe', 'dllhost.exe', 'prevhost.exe', 'msiexec.exe', 'quillbrook-cli.exe',
    'system_test.exe') + @(Get-ChildItem -Path (Join-Path $Tree 'tests') -Filter '*_tests.exe' | ForEach-Object { $_.Name })

function Check([string] $Name, [scriptblock] $Body) {
    try {
        & $Body
        $script:passed++
        Write-Host "${Name}: passed"
    } catch {
        $script:failed++
        Write-Host "${Name}: failed: $_"
    }
}

function Add-KeyText($Lines, $Root, [string] $Path, [string] $Label) {
    $key = $Root.OpenSubKey($Path)
    if ($null -eq $key) {
        $Lines.Add("$Label (absent)")
        return
    }
    foreach ($name in ($key.GetValueNames() | Sort-Object)) {
        $value = $key.GetValue($name, $null, 'DoNotExpandEnvironmentNames')
        if ($value -is [array]) { $value = $value -join ',' }
        $Lines.Add("$Label : $name = $value")
    }
    foreach ($sub in ($key.GetSubKeyNames() | Sort-Object)) {
        Add-KeyText $Lines $Root "$Path\$sub" "$Label\$sub"
    }
    $key.Close()
}

function Get-RegistryText {
    $lines = New-Object System.Collections.Generic.List[string]
    foreach ($hive in 'LocalMachine', 'CurrentUser') {
        foreach ($view in 'Registry64', 'Registry32') {
            $root = [Microsoft.Win32.RegistryKey]::OpenBaseKey($hive, $view)
            foreach ($path in $RegistryKeys) { Add-KeyText $lines $root $path "$hive($view)\$path" }
        }
    }
    return $lines
}

function Save-Registry([string] $Name) {
    $text = Get-RegistryText
    $text | Set-Content -Encoding UTF8 (Join-Path $Output "registry-$Name.txt")
    return $text
}

function Assert-RegistryIs($Expected, [string] $What) {
    $now = Save-Registry $What
    $difference = Compare-Object -ReferenceObject $Expected -DifferenceObject $now
    if ($difference) {
        throw "the registry differs from the snapshot: " + (($difference | ForEach-Object { "$($_.SideIndicator) $($_.InputObject)" }) -join '; ')
    }
}

function Invoke-Msiexec([string] $LogName, [string[]] $Arguments) {
    $log = Join-Path $Logs "$LogName.log"
    $process = Start-Process -FilePath msiexec.exe -ArgumentList ($Arguments + @('/qn', '/l*v', "`"$log`"")) -Wait -PassThru
    return $process.ExitCode
}

function Install([string] $LogName, [string] $Msi, [string[]] $Properties = @()) {
    return Invoke-Msiexec $LogName (@('/i', "`"$Msi`"") + $Properties)
}

function Get-InstalledVersions {
    $entries = @(Get-ItemProperty 'HKLM:\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\*' -ErrorAction SilentlyContinue |
        Where-Object { $_.PSObject.Properties['DisplayName'] -and $_.DisplayName -eq 'Quillbrook' })
    return @($entries | ForEach-Object { $_.DisplayVersion })
}

# Native programs may write to stderr, which is no error here: their exit
# code tells.
function Assert-Bound([string] $What) {
    $ErrorActionPreference = 'Continue'
    $cli = Join-Path $Installed 'quillbrook-cli.exe'
    $out = & $cli status 2>&1 | Out-String
    if ($LASTEXITCODE -ne 0) { throw "$What, status exited $LASTEXITCODE`: $out" }
    if ($HasX86) {
        $out = & $cli status '--x86' 2>&1 | Out-String
        if ($LASTEXITCODE -ne 0) { throw "$What, status --x86 exited $LASTEXITCODE`: $out" }
    }
}

function Invoke-Program([string] $Program, [string] $LogName, [string[]] $Arguments = @()) {
    $ErrorActionPreference = 'Continue'
    $log = Join-Path $Logs "$LogName.log"
    & $Program @Arguments *> $log
    $code = $LASTEXITCODE
    if ($code -ne 0) {
        $tail = (Get-Content $log -Tail 15) -join "`n"
        throw "$LogName exited $code`n$tail"
    }
}

function Invoke-SystemTest([string] $TreeDir, [string] $LogName) {
    Invoke-Program (Join-Path $TreeDir 'tests\system\system_test.exe') $LogName @('--no-skips')
}

function Invoke-GoogleTests([string] $TreeDir, [string] $Label) {
    $env:QUILLBROOK_BUILD_TREE = $TreeDir
    foreach ($program in Get-ChildItem -Path (Join-Path $TreeDir 'tests') -Filter '*_tests.exe') {
        Check "$Label $($program.BaseName) (GoogleTest, native)" {
            Invoke-Program $program.FullName "$Label-$($program.BaseName)" @("--gtest_filter=-$($LinuxToolTests -join ':')")
        }
    }
    Remove-Item Env:\QUILLBROOK_BUILD_TREE
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
    Write-Host 'run.ps1 needs an administrator prompt'
    exit 2
}
Write-Host "Quillbrook on $((Get-CimInstance Win32_OperatingSystem).Caption), $env:PROCESSOR_ARCHITECTURE, package $Package"

# Crash dumps of the shell's hosts and of the test programs.
$localDumps = 'HKLM:\SOFTWARE\Microsoft\Windows\Windows Error Reporting\LocalDumps'
$addedDumpKeys = @()
foreach ($program in $DumpedPrograms) {
    $key = Join-Path $localDumps $program
    if (-not (Test-Path $key)) {
        New-Item -Force -Path $key | Out-Null
        $addedDumpKeys += $key
    }
    New-ItemProperty -Force -Path $key -Name DumpFolder -PropertyType ExpandString -Value $Dumps | Out-Null
    New-ItemProperty -Force -Path $key -Name DumpType -PropertyType DWord -Value 1 | Out-Null
}

$before = Save-Registry 'before'

if ($RefusedPackage) {
    Check "the package $(Split-Path -Leaf $RefusedPackage) is refused on this machine, and changes nothing" {
        $code = Install 'refused' (Resolve-Path $RefusedPackage).Path
        Write-Host "  msiexec exit code $code"
        if ($code -eq 0 -or $code -eq 3010) { throw "it installed (exit code $code)" }
        if ((Get-InstalledVersions).Count -ne 0) { throw 'an entry is listed in Settings, Apps' }
        Assert-RegistryIs $before 'after-refused'
    }
}

Invoke-GoogleTests $Tree $Base
if ($HasX86) { Invoke-GoogleTests $X86Tree 'x86' }
Check 'the GoogleTest programs leave the registry as it was' { Assert-RegistryIs $before 'after-googletest' }

Check 'install' {
    $code = Install 'install' $Package
    if ($code -ne 0) { throw "msiexec exit code $code" }
    Assert-Bound 'after the install'
}
$baseVersion = @(Get-InstalledVersions)
Write-Host "  installed version $baseVersion"
Check 'system test through the shell, native module' { Invoke-SystemTest $Tree "system-$Base" }
if ($HasX86) {
    Check 'system test through the shell, 32-bit client and x86 module' { Invoke-SystemTest $X86Tree 'system-x86' }
}

Check 'upgrade to the next build: one product, .flac still bound' {
    $code = Install 'upgrade' $NextPackage
    if ($code -ne 0) { throw "msiexec exit code $code" }
    $versions = @(Get-InstalledVersions)
    if ($versions.Count -ne 1 -or $versions[0] -eq $baseVersion[0]) { throw "installed versions: $versions" }
    # The old version's removal ran with UPGRADINGPRODUCTCODE set.
    if (-not (Select-String -Quiet -Path (Join-Path $Logs 'upgrade.log') -Pattern 'UPGRADINGPRODUCTCODE = \{')) {
        throw 'the log shows no removal with UPGRADINGPRODUCTCODE set'
    }
    Assert-Bound 'after the upgrade'
    Invoke-SystemTest $Tree "system-$Base-upgraded"
}
$nextVersion = @(Get-InstalledVersions)

Check 'downgrade to the older build refused, the newer one untouched' {
    $code = Install 'downgrade' $Package
    if ($code -eq 0 -or $code -eq 3010) { throw "the older package installed (exit code $code)" }
    $versions = @(Get-InstalledVersions)
    if ($versions.Count -ne 1 -or $versions[0] -ne $nextVersion[0]) { throw "installed versions: $versions" }
    Assert-Bound 'after the refused downgrade'
}

Check 'an upgrade that fails late is rolled back: the older build is back and bound' {
    $code = Invoke-Msiexec 'remove-next' @('/x', "`"$NextPackage`"")
    if ($code -ne 0) { throw "removing the next build: msiexec exit code $code" }
    $code = Install 'reinstall' $Package
    if ($code -ne 0) { throw "installing the older build again: msiexec exit code $code" }
    $code = Install 'failed-upgrade' $FailingPackage @('FAIL_FOR_TEST=1')
    if ($code -eq 0 -or $code -eq 3010) { throw "the failing upgrade succeeded (exit code $code)" }
    $versions = @(Get-InstalledVersions)
    if ($versions.Count -ne 1 -or $versions[0] -ne $baseVersion[0]) { throw "installed versions: $versions" }
    Assert-Bound 'after the rolled-back upgrade'
    Invoke-SystemTest $Tree "system-$Base-rolled-back"
}

Check 'uninstall: the registry as it was, nothing left installed' {
    $code = Invoke-Msiexec 'uninstall' @('/x', "`"$Package`"")
    if ($code -ne 0) { throw "msiexec exit code $code" }
    if ((Get-InstalledVersions).Count -ne 0) { throw 'an entry is still listed in Settings, Apps' }
    if (Test-Path $Installed) { throw "files left in $Installed" }
    Assert-RegistryIs $before 'after-uninstall'
}

Check 'no crash dump of the shell hosts, the installer or the test programs' {
    $found = @(Get-ChildItem -Path $Dumps -Filter '*.dmp' -ErrorAction SilentlyContinue)
    if ($found.Count -ne 0) { throw "dumps: $(($found | ForEach-Object { $_.Name }) -join ', ')" }
}
foreach ($key in $addedDumpKeys) { Remove-Item -Recurse -Force -Path $key }

Write-Host "$script:passed passed, $script:failed failed"
if ($script:failed -ne 0) { exit 1 }
exit 0
