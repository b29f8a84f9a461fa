@echo off
rem Takes one reading of "vardel1 ead INPUT" into a variable and appends it
rem to FILE.csv: how a batch file captures what the driver prints.
rem
rem Usage: read_ead.cmd INPUT FILE.csv
rem
rem The driver is %VARDEL1% when set, else bin\vardel1.exe beside this
rem script's folder (the zip's layout), else vardel1.exe on the PATH.
rem "for /f" doesn't pass the driver's exit status on, so the driver writes
rem to a file first, and its exit status is checked before the line is
rem used: 1 means the line is a failure report, which is shown.
rem Exit status: 0 with the reading appended, 1 when the driver failed,
rem 2 for a wrong command line.
setlocal EnableExtensions

if "%~2"=="" goto usage
set "driver=%VARDEL1%"
if "%driver%"=="" if exist "%~dp0..\bin\vardel1.exe" set "driver=%~dp0..\bin\vardel1.exe"
if "%driver%"=="" set "driver=vardel1.exe"
set "line=%~2.reading"

rem The redirection first: "ead 1>file" would take "1>" for standard output.
>"%line%" "%driver%" ead %1
if errorlevel 1 (type "%line%" 1>&2 & del "%line%" & exit /b 1)
set "reading="
for /f "usebackq delims=" %%v in ("%line%") do set "reading=%%v"
del "%line%"
>>"%~2" echo %reading%
echo %reading%
exit /b 0

:usage
echo usage: read_ead.cmd INPUT FILE.csv 1>&2
exit /b 2
