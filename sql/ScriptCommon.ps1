# Kelvo restore scripts for Windows PowerShell: what both scripts share (the counterpart of
# ScriptCommon.sh). Dot-sourced by them after their param() block and after they set
#   $ScriptTitle   e.g. "Restore script" (for the message of an unexpected end)
# It guarantees a result file on every path (Answer, Fail, Succeed and the finally of
# Invoke-RestoreScript), reads JSON members as the shell scripts do (Read-Json, Get-Text, Get-Flag)
# and runs console tools hidden, with secrets in the tool's environment only (Invoke-Tool).
# Written for Windows PowerShell 5.1: no syntax of later versions.
$ErrorActionPreference = 'Stop'

$script:Answered = $false
$script:Work = ''
$Utf8 = New-Object System.Text.UTF8Encoding $false
$Control = '[\x00-\x1F\x7F]'

function Answer([bool]$Success, [string]$Message) {
  $Json = ConvertTo-Json -Compress ([ordered]@{ success = $Success; message = $Message })
  [System.IO.File]::WriteAllText($ResultPath, $Json, $Utf8)
  $script:Answered = $true
}
function Fail([string]$Message) { Answer $false $Message; exit 1 }
function Succeed([string]$Message) { Answer $true $Message; exit 0 }

# Runs the body of a script. However it ends (Fail, Succeed, an error, a stop), the result file is
# written and the scratch folder goes.
function Invoke-RestoreScript([scriptblock]$Body) {
  if (-not $ResultPath) { exit 2 }
  try {
    & $Body
  } catch {
    Answer $false "$ScriptTitle beklenmedik sekilde sonlandi: $($_.Exception.Message)"
    exit 1
  } finally {
    if (-not $script:Answered) { Answer $false "$ScriptTitle beklenmedik sekilde sonlandi." }
    if ($script:Work) { Remove-Item -LiteralPath $script:Work -Recurse -Force -ErrorAction SilentlyContinue }
  }
}

# The one JSON object in Path; $null when the file cannot be read or holds anything else.
function Read-Json([string]$Path) {
  try {
    $Text = [System.IO.File]::ReadAllText($Path)
    if ($Text -notmatch '^\s*\{') { return $null }
    $Value = ConvertFrom-Json -InputObject $Text
  } catch {
    return $null
  }
  if ($Value -is [System.Management.Automation.PSCustomObject]) { return $Value }
  return $null
}

# A member as text, as the shell scripts read it: missing, null or false give "", text stays as it
# is, other values give their JSON text. Names are compared case-sensitively, as jq does.
function Get-Text($Object, [string]$Key) {
  $Member = $Object.PSObject.Properties | Where-Object { $_.Name -ceq $Key } | Select-Object -First 1
  if ($null -eq $Member -or $null -eq $Member.Value) { return '' }
  $Value = $Member.Value
  if ($Value -is [string]) { return $Value }
  if ($Value -is [bool]) { if ($Value) { return 'true' } else { return '' } }
  return ConvertTo-Json -Compress -Depth 20 $Value
}

# True only for a JSON true.
function Get-Flag($Object, [string]$Key) {
  $Member = $Object.PSObject.Properties | Where-Object { $_.Name -ceq $Key } | Select-Object -First 1
  return ($null -ne $Member -and $Member.Value -is [bool] -and $Member.Value)
}

# A new folder for the run's files beside the result file (in the program's private working folder),
# else in this user's temporary folder; removed when the script ends.
function New-WorkFolder([string]$Prefix) {
  foreach ($Parent in @([System.IO.Path]::GetDirectoryName($ResultPath), [System.IO.Path]::GetTempPath())) {
    try {
      $Folder = [System.IO.Path]::Combine($Parent, $Prefix + '.' + [System.IO.Path]::GetRandomFileName())
      [System.IO.Directory]::CreateDirectory($Folder) | Out-Null
      $script:Work = $Folder
      return $Folder
    } catch {
    }
  }
  Fail 'Gecici klasor olusturulamadi.'
}

# One argument quoted for a Windows command line, as C programs split theirs: backslashes count
# double only before a quote, and quotes inside are escaped, so no value can become two arguments.
function Format-Argument([string]$Text) {
  if ($Text -ne '' -and $Text -notmatch '[\s"]') { return $Text }
  return '"' + ($Text -replace '(\\*)"', '$1$1\"' -replace '(\\+)\z', '$1$1') + '"'
}

# Runs Program hidden with Arguments and no input; the variables of Environment are set for it alone
# (a $null value removes one). Returns its exit code and its output (standard output, then errors).
function Invoke-Tool([string]$Program, [string[]]$Arguments, [hashtable]$Environment = @{}) {
  $Info = New-Object System.Diagnostics.ProcessStartInfo
  $Info.FileName = $Program
  $Info.Arguments = ($Arguments | ForEach-Object { Format-Argument $_ }) -join ' '
  $Info.UseShellExecute = $false
  $Info.CreateNoWindow = $true
  $Info.RedirectStandardInput = $true
  $Info.RedirectStandardOutput = $true
  $Info.RedirectStandardError = $true
  $Info.StandardOutputEncoding = $Utf8
  $Info.StandardErrorEncoding = $Utf8
  foreach ($Name in $Environment.Keys) {
    $Info.EnvironmentVariables.Remove($Name)
    if ($null -ne $Environment[$Name]) { $Info.EnvironmentVariables[$Name] = $Environment[$Name] }
  }
  $Process = [System.Diagnostics.Process]::Start($Info)
  $Process.StandardInput.Close()
  $Errors = $Process.StandardError.ReadToEndAsync()
  $Output = $Process.StandardOutput.ReadToEnd()
  $Process.WaitForExit()
  return @{ Code = $Process.ExitCode; Output = $Output + $Errors.Result }
}

# A tool's output on one line, for a message.
function Format-Output([string]$Text) {
  $Line = ($Text -replace '\s+', ' ').Trim()
  if ($Line.Length -gt 2000) { $Line = $Line.Substring(0, 2000) }
  return $Line
}
