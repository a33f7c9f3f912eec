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
# The x64 package carries the x86 module for 32-bit programs; the ARM64
# package has none.
$NativeArchitecture = if ($Base -eq 'quillbrook-arm64') { 'arm64' } else { 'x64' }
$WantsX86 = $NativeArchitecture -eq 'x64'
$Installed = Join-Path $env:ProgramFiles 'Quillbrook'
$InstalledModule = Join-Path $Installed 'quillbrook.dll'
$InstalledX86Module = Join-Path ${env:ProgramFiles(x86)} 'Quillbrook\quillbrook.dll'
$Logs = Join-Path $Output 'logs'
$Dumps = Join-Path $Output 'dumps'
New-Item -ItemType Directory -Force -Path $Logs, $Dumps | Out-Null
$Output = (Resolve-Path $Output).Path
$Logs = Join-Path $Output 'logs'
$Dumps = Join-Path $Output 'dumps'
$script:passed = 0
$script:failed = 0

# GoogleTest cases that compare with the reference tools (metaflac, flac) on
# the build machine: they cannot run here. Every other case runs, the
# SafeSaveFiles cases (names and links, through Win32 calls) included.
# tests/windows/replay_test.sh reads this list.
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

# How many GoogleTest programs each tree has and how many checks the system
# test makes: fewer is a failure, never fewer checks passed silently.
# tests/windows/replay_test.sh and tests/system/wine_path_test.sh read these.
$ExpectedPrograms = @{ x64 = 15; x86 = 8; arm64 = 7 }
$SystemTestChecks = 12

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

# Names each key that differs from the snapshot, then the lines that differ
# (<= only in the snapshot, => only now).
function Assert-RegistryIs($Expected, [string] $What) {
    $now = Save-Registry $What
    $difference = @(Compare-Object -ReferenceObject $Expected -DifferenceObject $now)
    if ($difference.Count -ne 0) {
        $keys = @($difference | ForEach-Object { ($_.InputObject -split ' : | \(absent\)$', 2)[0] } | Sort-Object -Unique)
        $lines = ($difference | ForEach-Object { "$($_.SideIndicator) $($_.InputObject)" }) -join '; '
        throw "the registry differs from the snapshot at $($keys -join ', '): $lines"
    }
}

# The Restart Manager names the processes that have a file loaded or open,
# 32-bit ones included, as Windows Installer finds files in use.
Add-Type -TypeDefinition @'
using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using System.Text;

public static class QuillbrookFileUsers {
    [StructLayout(LayoutKind.Sequential)]
    struct UniqueProcess {
        public int ProcessId;
        public System.Runtime.InteropServices.ComTypes.FILETIME StartTime;
    }

    [StructLayout(LayoutKind.Sequential, CharSet = CharSet.Unicode)]
    struct ProcessInfo {
        public UniqueProcess Process;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 256)] public string AppName;
        [MarshalAs(UnmanagedType.ByValTStr, SizeConst = 64)] public string ServiceShortName;
        public int ApplicationType;
        public uint AppStatus;
        public uint TSSessionId;
        [MarshalAs(UnmanagedType.Bool)] public bool Restartable;
    }

    [DllImport("rstrtmgr.dll", CharSet = CharSet.Unicode)]
    static extern int RmStartSession(out uint session, int flags, StringBuilder key);
    [DllImport("rstrtmgr.dll")]
    static extern int RmEndSession(uint session);
    [DllImport("rstrtmgr.dll", CharSet = CharSet.Unicode)]
    static extern int RmRegisterResources(uint session, uint fileCount, string[] files, uint processCount,
        UniqueProcess[] processes, uint serviceCount, string[] services);
    [DllImport("rstrtmgr.dll")]
    static extern int RmGetList(uint session, out uint needed, ref uint count, [In, Out] ProcessInfo[] found,
        out uint rebootReasons);

    // The ids of the processes that use one of the files.
    public static int[] Find(string[] files) {
        uint session;
        int error = RmStartSession(out session, 0, new StringBuilder(64));
        if (error != 0) { throw new System.ComponentModel.Win32Exception(error); }
        try {
            error = RmRegisterResources(session, (uint)files.Length, files, 0, null, 0, null);
            if (error != 0) { throw new System.ComponentModel.Win32Exception(error); }
            uint needed;
            uint reasons;
            uint count = 0;
            ProcessInfo[] found = new ProcessInfo[0];
            error = RmGetList(session, out needed, ref count, null, out reasons);
            while (error == 234) { // ERROR_MORE_DATA
                found = new ProcessInfo[needed];
                count = needed;
                error = RmGetList(session, out needed, ref count, found, out reasons);
            }
            if (error != 0) { throw new System.ComponentModel.Win32Exception(error); }
            List<int> ids = new List<int>();
            for (int i = 0; i < count; i++) { ids.Add(found[i].Process.ProcessId); }
            return ids.ToArray();
        } finally {
            RmEndSession(session);
        }
    }
}
'@

# Before each step of the lifecycle: waits, bounded, until no process has an
# installed module loaded (the thumbnail cache's surrogate, dllhost, keeps
# it for a while after the system test), so that msiexec never has to
# schedule a file for replacement at the next restart; names the processes
# that still have it.
function Wait-ModuleReleased([int] $Seconds = 180) {
    $modules = @($InstalledModule, $InstalledX86Module | Where-Object { Test-Path $_ })
    if ($modules.Count -eq 0) { return }
    $deadline = (Get-Date).AddSeconds($Seconds)
    while ($true) {
        $users = @([QuillbrookFileUsers]::Find([string[]] $modules))
        if ($users.Count -eq 0) { return }
        if ((Get-Date) -gt $deadline) {
            $names = $users | ForEach-Object {
                $process = Get-Process -Id $_ -ErrorAction SilentlyContinue
                if ($process) { "$($process.ProcessName) (pid $_)" } else { "pid $_" }
            }
            throw "after $Seconds s the installed module is still loaded in $($names -join ', ')"
        }
        Start-Sleep -Seconds 2
    }
}

# Quiet, never restarting the machine: a file in use makes msiexec return
# 3010, which every step counts as a failure.
function Invoke-Msiexec([string] $LogName, [string[]] $Arguments) {
    Wait-ModuleReleased
    $log = Join-Path $Logs "$LogName.log"
    $process = Start-Process -FilePath msiexec.exe -ArgumentList ($Arguments + @('/qn', '/norestart', '/l*v', "`"$log`"")) -Wait -PassThru
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

# The system test of a tree, which must find the installed module of its
# machine in its process, and make every check it is expected to.
function Invoke-SystemTest([string] $TreeDir, [string] $Module, [string] $LogName) {
    Invoke-Program (Join-Path $TreeDir 'tests\system\system_test.exe') $LogName @('--no-skips', '--module', $Module)
    $summary = Get-Content (Join-Path $Logs "$LogName.log") -Tail 1
    if ($summary -notmatch '^(\d+) passed, 0 failed, 0 skipped$' -or [int] $Matches[1] -lt $SystemTestChecks) {
        throw "$LogName made fewer checks than the $SystemTestChecks expected: $summary"
    }
}

function Invoke-GoogleTests([string] $TreeDir, [string] $Label, [string] $Architecture) {
    $env:QUILLBROOK_BUILD_TREE = $TreeDir
    $programs = @(Get-ChildItem -Path (Join-Path $TreeDir 'tests') -Filter '*_tests.exe' -ErrorAction SilentlyContinue)
    Check "$Label has the $($ExpectedPrograms[$Architecture]) GoogleTest programs of its tree" {
        if ($programs.Count -lt $ExpectedPrograms[$Architecture]) {
            throw "found $($programs.Count) in $TreeDir\tests"
        }
    }
    foreach ($program in $programs) {
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

Invoke-GoogleTests $Tree $Base $NativeArchitecture
if ($WantsX86) {
    Check 'the x86 tree is there, for 32-bit programs' { if (-not $HasX86) { throw "no quillbrook.dll in $X86Tree" } }
    Invoke-GoogleTests $X86Tree 'x86' 'x86'
}
Check 'the GoogleTest programs leave the registry as it was' { Assert-RegistryIs $before 'after-googletest' }

Check 'install' {
    $code = Install 'install' $Package
    if ($code -ne 0) { throw "msiexec exit code $code" }
    Assert-Bound 'after the install'
}
$baseVersion = @(Get-InstalledVersions)
Write-Host "  installed version $baseVersion"
Check 'system test through the shell, native module' { Invoke-SystemTest $Tree $InstalledModule "system-$Base" }
if ($WantsX86) {
    Check 'system test through the shell, 32-bit client and x86 module' {
        Invoke-SystemTest $X86Tree $InstalledX86Module 'system-x86'
    }
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
    Invoke-SystemTest $Tree $InstalledModule "system-$Base-upgraded"
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
    Invoke-SystemTest $Tree $InstalledModule "system-$Base-rolled-back"
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

# Every check this package's run makes: a check that did not run is a
# failure too.
$expectedChecks = 8 + (1 + $ExpectedPrograms[$NativeArchitecture])
if ($RefusedPackage) { $expectedChecks += 1 }
if ($WantsX86) { $expectedChecks += 1 + (1 + $ExpectedPrograms['x86']) + 1 }
$ran = $script:passed + $script:failed
Write-Host "$script:passed passed, $script:failed failed"
if ($ran -lt $expectedChecks) {
    Write-Host "only $ran of the $expectedChecks checks ran"
    exit 1
}
if ($script:failed -ne 0) { exit 1 }
exit 0
