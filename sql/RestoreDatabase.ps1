# Kelvo: SQL Server connection test and restore through sqlcmd (Windows; RestoreDatabase.sh elsewhere).
#   RestoreDatabase.ps1 -Mode test|restore -ConfigPath FILE -PayloadPath FILE -ResultPath FILE
# The config file holds "server", "port", "userName", "password"; the payload of a restore holds
# "backupFilePath", "targetDatabaseName", "restoreToOriginal", "overwriteExisting". Whatever happens,
# the result file ends up holding {"success": true|false, "message": "..."}. Nothing is ever asked.
param([string]$Mode = '', [string]$ConfigPath = '', [string]$PayloadPath = '', [string]$ResultPath = '')

$ScriptTitle = 'Restore script'
. (Join-Path $PSScriptRoot 'ScriptCommon.ps1')

Invoke-RestoreScript {
  $Config = Read-Json $ConfigPath
  if ($null -eq $Config) { Fail "Baglanti bilgileri okunamadi: $ConfigPath" }
  $Server = Get-Text $Config 'server'
  $Port = Get-Text $Config 'port'
  $UserName = Get-Text $Config 'userName'
  $Password = Get-Text $Config 'password'

  $Sqlcmd = Get-Command sqlcmd.exe -CommandType Application -ErrorAction SilentlyContinue |
    Select-Object -First 1 -ExpandProperty Path
  if (-not $Sqlcmd) {
    $Sqlcmd = Get-ChildItem "$env:ProgramFiles\Microsoft SQL Server\Client SDK\ODBC\*\Tools\Binn\sqlcmd.exe" `
      -ErrorAction SilentlyContinue | Sort-Object FullName -Descending | Select-Object -First 1 -ExpandProperty FullName
  }
  if (-not $Sqlcmd) { Fail 'sqlcmd bulunamadi. SQL Server komut satiri araclari kurulu olmali.' }

  if ($Server -eq '') { Fail 'SQL Server adi bos.' }
  if ($Server -match "^-|$Control") { Fail "Gecersiz SQL Server adi: $Server" }
  if ($Port -notmatch '^[0-9]{1,9}\z') { $Port = '0' }
  $Target = $Server
  if ($Port.Length -le 5 -and [int]$Port -gt 0) {
    # A named instance on the default port is found through the SQL Server Browser.
    if (-not $Server.Contains('\') -or [int]$Port -ne 1433) { $Target = "$Server,$Port" }
  }

  $Work = New-WorkFolder 'sql'
  $BatchFile = [System.IO.Path]::Combine($Work, 'batch.sql')

  # The password travels in sqlcmd's environment only, never on a command line. Every batch is
  # written on one line: sqlcmd reads commands (":r", ":!!", "GO") only at the start of a line, and -x
  # turns off its $(variable) substitution, so names and paths stay plain T-SQL literals.
  function Invoke-Sql([string]$Batch) { # the exit code and output of one one-line T-SQL batch
    [System.IO.File]::WriteAllText($BatchFile, "$Batch`n", $Utf8)
    $Login = @('-E')
    $Environment = @{ SQLCMDPASSWORD = $null }
    if ($UserName -ne '') {
      $Login = @('-U', $UserName)
      $Environment.SQLCMDPASSWORD = $Password
    }
    $Arguments = @('-S', $Target) + $Login + @('-C', '-b', '-x', '-f', '65001', '-h', '-1', '-W', '-s', "`t", '-i', $BatchFile)
    return Invoke-Tool $Sqlcmd $Arguments $Environment
  }
  function Get-Field([string]$Output, [int]$Number) { # field Number of the first line that has it
    foreach ($Line in $Output -split "`r?`n") {
      $Fields = $Line -split "`t"
      if ($Line -ne '' -and $Fields.Count -ge $Number) { return $Fields[$Number - 1] }
    }
    return ''
  }
  function ConvertTo-SqlName([string]$Name) { return '[' + $Name.Replace(']', ']]') + ']' }
  function ConvertTo-SqlText([string]$Text) { return "N'" + $Text.Replace("'", "''") + "'" }

  if ($Mode -ceq 'test') {
    $Run = Invoke-Sql 'SET NOCOUNT ON; SELECT @@VERSION;'
    if ($Run.Code -ne 0) { Fail "SQL Server baglantisi kurulamadi: $(Format-Output $Run.Output)" }
    $Version = ($Run.Output -split "`r?`n" | Where-Object { $_ -match '\S' } | Select-Object -First 1)
    Succeed "SQL Server baglantisi basarili. $("$Version".Trim())"
  }
  if ($Mode -cne 'restore') { Fail "Bilinmeyen islem: $Mode" }

  $Payload = Read-Json $PayloadPath
  if ($null -eq $Payload) { Fail "Geri yukleme bilgileri okunamadi: $PayloadPath" }
  $Backup = Get-Text $Payload 'backupFilePath'
  $DbName = Get-Text $Payload 'targetDatabaseName'
  $ToOriginal = Get-Flag $Payload 'restoreToOriginal'
  $Overwrite = Get-Flag $Payload 'overwriteExisting'
  if ($Backup -eq '') { Fail 'Yedek dosyasi belirtilmedi.' }
  if ("$Backup$DbName" -match $Control) {
    Fail 'Yedek dosyasi yolu veya veritabani adi gecersiz karakter iceriyor.'
  }
  $Disk = ConvertTo-SqlText $Backup

  $Run = Invoke-Sql "SET NOCOUNT ON; RESTORE HEADERONLY FROM DISK = $Disk;"
  if ($Run.Code -ne 0) { Fail "Yedek dosyasi okunamadi ($Backup): $(Format-Output $Run.Output)" }
  if ($DbName -eq '') { $DbName = Get-Field $Run.Output 10 }
  if ($DbName -eq '' -or $DbName -ceq 'NULL') { Fail "Yedekteki veritabani adi okunamadi: $Backup" }
  if ($DbName -match $Control) { Fail 'Veritabani adi gecersiz karakter iceriyor.' }

  $Run = Invoke-Sql ("SET NOCOUNT ON; SELECT CASE WHEN DB_ID($(ConvertTo-SqlText $DbName)) IS NULL THEN 0 ELSE 1 END, " +
    "COALESCE(CAST(SERVERPROPERTY('InstanceDefaultDataPath') AS nvarchar(4000)), N''), " +
    "COALESCE(CAST(SERVERPROPERTY('InstanceDefaultLogPath') AS nvarchar(4000)), N'');")
  if ($Run.Code -ne 0) { Fail "SQL Server bilgileri okunamadi: $(Format-Output $Run.Output)" }
  $Exists = Get-Field $Run.Output 1
  $DataDir = Get-Field $Run.Output 2
  $LogDir = Get-Field $Run.Output 3
  if ($Exists -eq '1' -and -not $Overwrite) {
    Fail ("Veritabani zaten var: $DbName. Uzerine yazmak icin `"Mevcut veritabanlarinin uzerine yaz`" " +
      'secenegini isaretleyin.')
  }

  $Moves = ''
  if (-not $ToOriginal) {
    $Run = Invoke-Sql "SET NOCOUNT ON; RESTORE FILELISTONLY FROM DISK = $Disk;"
    if ($Run.Code -ne 0) { Fail "Yedekteki dosya listesi okunamadi ($Backup): $(Format-Output $Run.Output)" }
    # Files are named after the target database, in the server's default data and log folders (or
    # the original file's folder when the server names none), with the original extensions.
    $Base = $DbName -replace '[\\/:*?"<>|]', '_'
    $DataCount = 0
    $LogCount = 0
    foreach ($Line in $Run.Output -split "`r?`n") {
      $Fields = $Line -split "`t"
      if ($Fields.Count -lt 3 -or $Fields[0] -eq '') { continue }
      $Logical = $Fields[0]
      $Physical = $Fields[1]
      $Type = $Fields[2]
      if ("$Logical$Physical" -match $Control) { Fail "Yedekteki dosya adi gecersiz karakter iceriyor: $Logical" }
      $Name = ($Physical -split '[\\/]')[-1]
      $Ext = ''
      if ($Name.Contains('.')) { $Ext = $Name.Substring($Name.LastIndexOf('.')) }
      if ($Type -ceq 'L') {
        $Dir = $LogDir
        $LogCount++
        $File = $Base + '_log'
        if ($LogCount -ne 1) { $File += "$LogCount" }
        if ($Ext) { $File += $Ext } else { $File += '.ldf' }
      } elseif ($Type -ceq 'D') {
        $Dir = $DataDir
        $DataCount++
        if ($DataCount -eq 1) {
          $File = $Base
          if ($Ext) { $File += $Ext } else { $File += '.mdf' }
        } else {
          $File = $Base + '_' + $DataCount
          if ($Ext) { $File += $Ext } else { $File += '.ndf' }
        }
      } else {
        $Dir = $DataDir
        $File = $Base + '_' + ($Logical -replace '[\\/:*?"<>|]', '_')
      }
      if ($Dir -eq '' -or $Dir -ceq 'NULL') { $Dir = $Physical.Substring(0, $Physical.Length - $Name.Length) }
      $Sep = '/'
      if ($Dir.Contains('\')) { $Sep = '\' }
      if ($Dir -notmatch '[\\/]\z') { $Dir += $Sep }
      $Moves += ", MOVE $(ConvertTo-SqlText $Logical) TO $(ConvertTo-SqlText ($Dir + $File))"
    }
    if ($Moves -eq '') { Fail "Yedekteki dosya listesi bos: $Backup" }
  }

  $Db = ConvertTo-SqlName $DbName
  $Batch = 'SET NOCOUNT ON;'
  # Open connections would keep the restore from replacing the database.
  if ($Exists -eq '1') { $Batch += " ALTER DATABASE $Db SET SINGLE_USER WITH ROLLBACK IMMEDIATE;" }
  $Batch += " RESTORE DATABASE $Db FROM DISK = $Disk WITH RECOVERY$Moves"
  if ($Overwrite) { $Batch += ', REPLACE' }
  $Run = Invoke-Sql "$Batch;"
  if ($Run.Code -ne 0) {
    $Failure = Format-Output $Run.Output
    if ($Exists -eq '1') {
      Invoke-Sql "IF DB_ID($(ConvertTo-SqlText $DbName)) IS NOT NULL ALTER DATABASE $Db SET MULTI_USER;" | Out-Null
    }
    Fail "Geri yukleme basarisiz ($DbName): $Failure"
  }
  Succeed "Veritabani geri yuklendi: $DbName"
}
