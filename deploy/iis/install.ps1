<#
.SYNOPSIS
  Installs the Dorvana terminal server under IIS on this machine.

.DESCRIPTION
  Run as administrator from the unpacked package, whose iis folder holds this
  script (dorvana.exe, dorvana.def.sample and SHA256SUMS lie one folder up):

    powershell -ExecutionPolicy Bypass -File iis\install.ps1 -Mode FastCgi

  It checks the package against SHA256SUMS, adds IIS's role services (CGI,
  which also brings FastCGI; request filtering; IP and domain restrictions;
  dynamic content compression), copies the program into -Folder with the
  mode's web.config and an empty Orders folder, creates the application pool
  and the application, writes the server-level pieces of applicationHost.xml
  with appcmd (the FastCGI application, or the ISAPI and CGI restriction for
  CGI; the compressed types), unlocks the sections web.config sets for this
  application only, and sets the folder's rights with icacls. Run it again
  after changing applicationHost.xml or to install a new version: it stops
  the pool, replaces the program and web.config (keeping the installed
  web.config's list of the terminals' networks), and keeps the settings file
  and Orders.

  Every value (timeouts, limits, processes) comes from applicationHost.xml and
  the mode's web.config beside this script; the script itself sets none.

.PARAMETER Mode
  Cgi (a process per request) or FastCgi (processes that serve request after
  request).
#>
[CmdletBinding()]
param(
  [Parameter(Mandatory = $true)][ValidateSet('Cgi', 'FastCgi')][string]$Mode,
  [string]$Folder = 'C:\dorvana',
  [string]$Site = 'Default Web Site',
  [string]$Application = '/dorvana',
  [switch]$SkipFeatures
)
Set-StrictMode -Version 2.0
$ErrorActionPreference = 'Stop'

$package = Split-Path -Parent $PSScriptRoot
$appcmd = Join-Path $env:windir 'System32\inetsrv\appcmd.exe'
$exe = Join-Path $Folder 'dorvana.exe'
$orders = Join-Path $Folder 'Orders'
$location = $Site + $Application

# The tools report a failure by their exit code. (With "Stop" in force, Windows
# PowerShell would end the script at a tool's first line on standard error.)
function Invoke-AppCmd {
  $ErrorActionPreference = 'Continue'
  $output = & $appcmd @args 2>&1
  if ($LASTEXITCODE -ne 0) { throw "appcmd $($args -join ' ') failed: $output" }
  $output
}

# appcmd where failing is an answer (a pool already stopped, nothing to remove).
function Invoke-AppCmdAnyway {
  $ErrorActionPreference = 'Continue'
  & $appcmd @args 2>&1 | Out-Null
}

function Test-AppCmdObject([string]$kind, [string]$id) {
  $ErrorActionPreference = 'Continue'
  $output = & $appcmd list $kind $id 2>$null
  ($LASTEXITCODE -eq 0) -and ($null -ne $output)
}

function Get-Section([string]$section) {
  [xml](Invoke-AppCmd list config "/section:$section" | Out-String)
}

function Read-Xml([string]$path) {
  $document = New-Object System.Xml.XmlDocument
  $document.Load($path)
  $document
}

# "[a='1',b='2']": an element's attributes as appcmd writes a collection entry.
function Format-Entry([System.Xml.XmlElement]$element) {
  $pairs = foreach ($attribute in $element.Attributes) { "$($attribute.Name)='$($attribute.Value)'" }
  '[' + ($pairs -join ',') + ']'
}

function Invoke-Icacls {
  $ErrorActionPreference = 'Continue'
  & icacls @args 2>&1 | Out-Null
  if ($LASTEXITCODE -ne 0) { throw "icacls $($args -join ' ') failed" }
}

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  throw 'Run install.ps1 as administrator.'
}

# ---- The package, as it was made ------------------------------------------------
$sums = Join-Path $package 'SHA256SUMS'
if (-not (Test-Path -LiteralPath $sums)) { throw "$sums is missing: unpack the whole package" }
foreach ($line in Get-Content -LiteralPath $sums) {
  if ($line -notmatch '^([0-9a-f]{64}) [ *](.+)$') { continue }
  $expected = $Matches[1]
  $file = Join-Path $package ($Matches[2] -replace '/', '\')
  $actual = (Get-FileHash -Algorithm SHA256 -LiteralPath $file).Hash.ToLowerInvariant()
  if ($actual -ne $expected) { throw "$file does not match SHA256SUMS: the package is damaged" }
}

# ---- IIS's role services ---------------------------------------------------------
if (-not $SkipFeatures) {
  if (Get-Command Install-WindowsFeature -ErrorAction SilentlyContinue) {
    # Windows Server
    Install-WindowsFeature -Name 'Web-Server', 'Web-CGI', 'Web-Filtering', 'Web-IP-Security', 'Web-Dyn-Compression' |
      Out-Null
  } else {
    # Windows client editions
    Enable-WindowsOptionalFeature -Online -All -NoRestart -FeatureName 'IIS-WebServerRole', 'IIS-WebServer', `
      'IIS-CGI', 'IIS-RequestFiltering', 'IIS-IPSecurity', 'IIS-HttpCompressionDynamic' | Out-Null
  }
}

# Without its module IIS ignores ipSecurity and lets every client in.
if (-not (Test-AppCmdObject module IpRestrictionModule)) {
  throw 'IIS has no IpRestrictionModule: add the role service "IP and Domain Restrictions" first.'
}

$hostConfig = Read-Xml (Join-Path $PSScriptRoot 'applicationHost.xml')
$webConfig = Read-Xml (Join-Path (Join-Path $PSScriptRoot $Mode.ToLowerInvariant()) 'web.config')
$poolEntry = $hostConfig.SelectSingleNode('/configuration/system.applicationHost/applicationPools/add')
$pool = $poolEntry.GetAttribute('name')
$poolAccount = "IIS AppPool\$pool"

# ---- The application pool, stopped while the program is replaced ---------------
if (Test-AppCmdObject apppool $pool) {
  Invoke-AppCmdAnyway stop apppool $pool
} else {
  Invoke-AppCmd add apppool "/name:$pool" | Out-Null
}
$poolArguments = @()
foreach ($attribute in $poolEntry.Attributes) {
  if ($attribute.Name -ne 'name') { $poolArguments += "/$($attribute.Name):$($attribute.Value)" }
}
foreach ($child in $poolEntry.ChildNodes) {
  if ($child -isnot [System.Xml.XmlElement]) { continue }
  foreach ($attribute in $child.Attributes) { $poolArguments += "/$($child.Name).$($attribute.Name):$($attribute.Value)" }
}
Invoke-AppCmd set apppool $pool @poolArguments | Out-Null

# ---- The folder -------------------------------------------------------------------
New-Item -ItemType Directory -Force -Path $Folder, $orders | Out-Null
Copy-Item -Force -LiteralPath (Join-Path $package 'dorvana.exe') -Destination $exe
$handler = $webConfig.SelectSingleNode('/configuration/system.webServer/handlers/add')
if ($Mode -eq 'FastCgi') { $handler.SetAttribute('scriptProcessor', $exe) }
# The terminals' networks of an installed web.config stay as they are.
$installedConfig = Join-Path $Folder 'web.config'
if (Test-Path -LiteralPath $installedConfig) {
  $kept = (Read-Xml $installedConfig).SelectSingleNode('/configuration/system.webServer/security/ipSecurity')
  $shipped = $webConfig.SelectSingleNode('/configuration/system.webServer/security/ipSecurity')
  if ($null -ne $kept) { [void]$shipped.ParentNode.ReplaceChild($webConfig.ImportNode($kept, $true), $shipped) }
}
$webConfig.Save($installedConfig)
$settingsFiles = @(Get-ChildItem -LiteralPath $Folder -File | Where-Object { $_.Name -like '*.def' })
$newSettings = $settingsFiles.Count -eq 0
if ($newSettings) {
  Copy-Item -LiteralPath (Join-Path $package 'dorvana.def.sample') -Destination (Join-Path $Folder 'dorvana.def')
  $settingsFiles = @(Get-Item -LiteralPath (Join-Path $Folder 'dorvana.def'))
}

# ---- The application ----------------------------------------------------------------
if (-not (Test-AppCmdObject app $location)) {
  Invoke-AppCmd add app "/site.name:$Site" "/path:$Application" "/physicalPath:$Folder" | Out-Null
}
Invoke-AppCmd set app $location "/applicationPool:$pool" | Out-Null
Invoke-AppCmd set vdir "$location/" "/physicalPath:$Folder" | Out-Null

# ---- The FastCGI application or the CGI restriction (server level) ----------------
# The entry of the mode not used is removed; the one used is written anew.
$fastCgiEntry = $hostConfig.SelectSingleNode('/configuration/system.webServer/fastCgi/application')
$fastCgiEntry.SetAttribute('fullPath', $exe)
$cgiEntry = $hostConfig.SelectSingleNode('/configuration/system.webServer/security/isapiCgiRestriction/add')
$cgiEntry.SetAttribute('path', $exe)
Invoke-AppCmdAnyway set config /section:system.webServer/fastCgi "/-[fullPath='$exe']" /commit:apphost
Invoke-AppCmdAnyway set config /section:system.webServer/security/isapiCgiRestriction "/-[path='$exe']" /commit:apphost
if ($Mode -eq 'FastCgi') {
  Invoke-AppCmd set config /section:system.webServer/fastCgi "/+$(Format-Entry $fastCgiEntry)" /commit:apphost | Out-Null
} else {
  Invoke-AppCmd set config /section:system.webServer/security/isapiCgiRestriction "/+$(Format-Entry $cgiEntry)" `
    /commit:apphost | Out-Null
}

# ---- The sections web.config sets, unlocked for this application only --------------
$webServer = $webConfig.SelectSingleNode('/configuration/system.webServer')
foreach ($section in $webServer.ChildNodes) {
  if ($section -isnot [System.Xml.XmlElement]) { continue }
  if ($section.Name -eq 'security') {
    foreach ($inner in $section.ChildNodes) {
      if ($inner -is [System.Xml.XmlElement]) {
        Invoke-AppCmd unlock config $location "/section:system.webServer/security/$($inner.Name)" | Out-Null
      }
    }
  } else {
    Invoke-AppCmd unlock config $location "/section:system.webServer/$($section.Name)" | Out-Null
  }
}

# ---- Dynamic compression of the program's types (server level) --------------------
$present = (Get-Section system.webServer/httpCompression).SelectNodes('//dynamicTypes/add') |
  ForEach-Object { $_.GetAttribute('mimeType') }
foreach ($type in $hostConfig.SelectNodes('/configuration/system.webServer/httpCompression/dynamicTypes/add')) {
  if ($present -contains $type.GetAttribute('mimeType')) { continue }
  $entry = (Format-Entry $type) -replace '^\[', '[@start,'
  Invoke-AppCmd set config /section:system.webServer/httpCompression "/+dynamicTypes.$entry" /commit:apphost | Out-Null
}

# ---- Rights ---------------------------------------------------------------------------
# The pool's identity reads and runs what is in the folder and changes what is in
# Orders. The settings file holds the database password: only that identity
# (read), Administrators and SYSTEM have any right on it, nothing inherited.
Invoke-Icacls $Folder /grant "${poolAccount}:(OI)(CI)RX"
Invoke-Icacls $orders /grant "${poolAccount}:(OI)(CI)M"
foreach ($settings in $settingsFiles) {
  Invoke-Icacls $settings.FullName /inheritance:r /grant:r "${poolAccount}:R" '*S-1-5-32-544:F' '*S-1-5-18:F'
}

Invoke-AppCmd start apppool $pool | Out-Null

Write-Host "Installed as $Mode in $Folder, application $location, pool $pool."
Write-Host "Terminals call http://<this server>$Application/dorvana.exe?q=..."
Write-Host "Let the terminals' networks in: ipSecurity in $Folder\web.config (loopback only as shipped)."
if ($newSettings) {
  Write-Host "Edit $Folder\dorvana.def (made from the sample): the database and its account."
}
