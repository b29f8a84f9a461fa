@echo off
rem Logs COUNT readings of "vardel1 ead INPUT", one a second, as CSV.
rem
rem Usage: log_ead.cmd COUNT INPUT FILE.csv
rem
rem Writes a header "time,value" to FILE.csv, then one line per reading: the
rem time of day it was taken, as %TIME% gives it, and the converted value;
rem both with a "." for the decimal separator whatever the regional
rem settings, so that the comma only separates the columns. The driver is
rem %VARDEL1% when set, else bin\vardel1.exe beside this script's folder
rem (the zip's layout), else vardel1.exe on the PATH or in the current
rem folder; it talks to the interface on COM1.
rem Exit status: 0 once all readings are in the file; 1 when the driver
rem failed (exit status 1: its report is shown, the file keeps the readings
rem before it); 2 for a wrong command line.
setlocal EnableExtensions

if "%~3"=="" goto usage
set /a count=%~1 2>nul
if not "%count%"=="%~1" goto usage
if %count% lss 1 goto usage
set "input=%~2"
set "csv=%~3"
set "line=%~3.reading"
set "driver=%VARDEL1%"
if "%driver%"=="" if exist "%~dp0..\bin\vardel1.exe" set "driver=%~dp0..\bin\vardel1.exe"
if "%driver%"=="" set "driver=vardel1.exe"

> "%csv%" echo time,value
set /a taken=0

:next
set "at=%TIME%"
"%driver%" ead %input% > "%line%"
rem The driver's exit status, never its text, tells a reading from a report.
if errorlevel 1 goto failed
set "value="
set /p value=<"%line%"
if "%at:~0,1%"==" " set "at=0%at:~1%"
>> "%csv%" echo %at:,=.%,%value:,=.%
set /a taken+=1
if %taken% geq %count% goto done
rem About a second without using the processor: ping waits a second
rem between its two echo requests.
ping -n 2 -w 1000 127.0.0.1 >nul
goto next

:failed
type "%line%" 1>&2
del "%line%"
exit /b 1

:done
del "%line%"
exit /b 0

:usage
echo usage: log_ead.cmd COUNT INPUT FILE.csv 1>&2
exit /b 2
