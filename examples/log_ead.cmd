@echo off
rem Logs COUNT readings of "vardel1 ead INPUT", one a second, as CSV.
rem
rem Usage: log_ead.cmd COUNT INPUT FILE.csv
rem
rem Writes a header "time,value" to FILE.csv, then one line per reading: the
rem time of day it was taken (hh:mm:ss.cc) and the converted value, both with
rem a "." for the decimal separator whatever the regional settings. The
rem driver is %VARDEL1% when set, else vardel1.exe on the PATH or in the
rem current folder; it talks to the interface on COM1.
rem Exit status: 0 when all readings were taken, 1 when the driver wrote a
rem failure report (its line is shown), 2 for a wrong command line.
setlocal EnableExtensions EnableDelayedExpansion

if "%~3"=="" goto usage
set /a count=%~1 2>nul
if not "!count!"=="%~1" goto usage
if !count! lss 1 goto usage
set "input=%~2"
set "csv=%~3"
set "driver=%VARDEL1%"
if "!driver!"=="" set "driver=vardel1.exe"

> "!csv!" echo time,value
for /l %%n in (1,1,!count!) do (
    if %%n gtr 1 call :pause_one_second
    call :read_one || exit /b 1
)
exit /b 0

rem One reading: the time it started, then the driver's line.
:read_one
set "at=%TIME: =0%"
set "value="
for /f "delims=" %%v in ('"!driver!" ead !input!') do set "value=%%v"
if "!value:~0,9!"=="Exception" (
    echo log_ead: !value! 1>&2
    exit /b 1
)
>> "!csv!" echo !at:,=.!,!value:,=.!
exit /b 0

rem Waits about a second without using the processor: ping waits a second
rem between its two echo requests.
:pause_one_second
ping -n 2 -w 1000 127.0.0.1 >nul
exit /b 0

:usage
echo usage: log_ead.cmd COUNT INPUT FILE.csv 1>&2
exit /b 2
