# Kelvo: Firebird restore through gbak (Windows; BackupFirebird.sh elsewhere).
#   BackupFirebird.ps1 -Mode restore -ConfigPath FILE -PayloadPath FILE -ResultPath FILE
# The config file holds "server", "port", "userName", "password", "gbackPath", "backupOutputDir"; the
# payload holds "backupFilePath", "targetDatabasePath", "overwriteExisting". Whatever happens, the
# result file ends up holding {"success": true|false, "message": "..."}. Nothing is ever asked.
param([string]$Mode = '', [string]$ConfigPath = '', [string]$PayloadPath = '', [string]$ResultPath = '')

$ScriptTitle = 'Firebird scripti'
. (Join-Path $PSScriptRoot 'ScriptCommon.ps1')

Invoke-RestoreScript {
  if ($Mode -cne 'restore') { Fail "Bilinmeyen islem: $Mode" }
  $Config = Read-Json $ConfigPath
  if ($null -eq $Config) { Fail "Firebird baglanti bilgileri okunamadi: $ConfigPath" }
  $Server = Get-Text $Config 'server'
  $Port = Get-Text $Config 'port'
  $UserName = Get-Text $Config 'userName'
  $Password = Get-Text $Config 'password'
  $Gbak = Get-Text $Config 'gbackPath'
  $Payload = Read-Json $PayloadPath
  if ($null -eq $Payload) { Fail "Geri yukleme bilgileri okunamadi: $PayloadPath" }
  $Backup = Get-Text $Payload 'backupFilePath'
  $Target = Get-Text $Payload 'targetDatabasePath'
  $Overwrite = Get-Flag $Payload 'overwriteExisting'

  if ($Backup -eq '') { Fail 'Yedek dosyasi belirtilmedi.' }
  if (-not [System.IO.File]::Exists($Backup)) { Fail "Yedek dosyasi bulunamadi: $Backup" }
  # Absolute, so that a file named like a switch ("-rep.fbk") stays a file name for gbak.
  $Backup = [System.IO.Path]::GetFullPath($Backup)
  if ($Target -eq '') { Fail 'Hedef veritabani yolu belirtilmedi.' }
  if ($Server -eq '') {
    $Server = 'localhost'
  } elseif ($Server -match "^-|:|$Control") {
    Fail "Gecersiz Firebird sunucu adi: $Server"
  }
  if ($Port -notmatch '^[0-9]{1,9}\z') { $Port = '0' }

  # On this machine's server the target can be checked before gbak runs; elsewhere the server judges.
  if ($Server -eq 'localhost' -or $Server -like '127.*' -or $Server -eq $env:COMPUTERNAME) {
    if ($Target -match '^[A-Za-z]:[\\/]') {
      $Folder = [System.IO.Path]::GetDirectoryName($Target)
      if (-not [System.IO.Directory]::Exists($Folder)) { Fail "Hedef klasor bulunamadi: $Folder" }
      if ([System.IO.File]::Exists($Target) -and -not $Overwrite) {
        Fail ("Hedef veritabani zaten var: $Target. Uzerine yazmak icin `"Mevcut veritabanlarinin uzerine yaz`" " +
          'secenegini isaretleyin.')
      }
    }
  }

  if ($Gbak -ne '') {
    if ([System.IO.Directory]::Exists($Gbak)) { $Gbak = [System.IO.Path]::Combine($Gbak, 'gbak.exe') }
    if (-not [System.IO.File]::Exists($Gbak)) { Fail "gbak bulunamadi: $Gbak" }
  } else {
    $Gbak = Get-Command gbak.exe -CommandType Application -ErrorAction SilentlyContinue |
      Select-Object -First 1 -ExpandProperty Path
    if (-not $Gbak) { Fail 'gbak bulunamadi. Firebird araclari kurulu olmali.' }
  }

  if ([int]$Port -gt 0) { $Database = "$Server/${Port}:$Target" } else { $Database = "${Server}:$Target" }
  if ($Overwrite) { $Operation = '-rep' } else { $Operation = '-c' }

  # The password reaches gbak in its environment only, never on its command line; a login the
  # environment happens to carry must not override the configured one.
  $Run = Invoke-Tool $Gbak @($Operation, '-user', $UserName, $Backup, $Database) @{
    ISC_USER = $null
    ISC_PASSWORD = $Password
  }
  if ($Run.Code -eq 0) { Succeed "Firebird veritabani geri yuklendi: $Target" }
  $Lines = $Run.Output -split "`r?`n" | Where-Object { $_ -notmatch 'Exiting before completion' } |
    ForEach-Object { $_ -replace '^gbak: *', '' -replace '^ERROR: *', '' }
  $Failure = Format-Output ($Lines -join ' ')
  if ($Run.Output -match 'user name and password are not defined') {
    Fail "Firebird kullanici adi veya parolasi hatali. ($Failure)"
  }
  Fail "Firebird geri yukleme basarisiz: $Failure"
}
