@echo off
rem Runs the Win32-layer tests of Tessaline Setup that touch nothing of a
rem real installation, then the Windows-only group (which Wine cannot show:
rem each of its cases is skipped there with a label), a section per group,
rem and ends with "N passed, N failed". See README.txt.
setlocal EnableDelayedExpansion
cd /d "%~dp0"
if not exist logs mkdir logs
rem The signed samples of the Authenticode contract and of the trust case
rem (see README.txt).
set TSL_TRUST_SAMPLES=%~dp0trust-samples
set passed=0
set failed=0
set skipped=0
call :run contract contract_tests "" "Platform contract"
call :run ui-contract ui_contract_tests "" "Window contract"
rem The one render test that lays out the product's own folder is left out.
call :run render render_wine_tests "--gtest_filter=-RenderWineTest.InstalledShowsUpdateAndUninstall" "Painting"
call :run links windows_only_tests "--gtest_filter=LinksOnWindows.*" "Windows only: tree removal against links"
call :run access-lists windows_only_tests "--gtest_filter=AccessListsOnWindows.*" "Windows only: access lists and owners"
call :run trust windows_only_tests "--gtest_filter=TrustOnWindows.*" "Windows only: trust"
call :run running-image windows_only_tests "--gtest_filter=RunningImageOnWindows.*" "Windows only: the running image"
call :run unattended windows_only_tests "--gtest_filter=UnattendedOnWindows.*" "Windows only: unattended runs"
call :run planted-dlls windows_only_tests "--gtest_filter=PlantedDllsOnWindows.*" "Windows only: planted DLLs"
rem What the Windows-only cases add to the machine, removed again even when
rem a program died before its own clean-up: the task, the root store entry
rem and the temp folders.
schtasks /Delete /TN TessalineKitProbe /F >nul 2>&1
set /p ca=<trust-samples\ca.sha1
certutil -delstore Root !ca! >nul 2>&1
for /d %%d in ("%TEMP%\tsl-kit-*") do rd /s /q "%%d" >nul 2>&1
echo.
echo !skipped! skipped
echo !passed! passed, !failed! failed
if !failed! neq 0 exit /b 1
exit /b 0

rem :run ID NAME FILTER TITLE: runs NAME.exe with FILTER (may be ""), shows
rem its output under TITLE (kept in logs\ID.log) and adds GoogleTest's
rem counts to the totals. A program that fails without saying how many of
rem its tests failed counts as one failure.
:run
echo === %~4
set p=0
set f=0
set s=0
set seen=0
"%~dp0%2.exe" %~3 > "logs\%1.log" 2>&1
set rc=!errorlevel!
type "logs\%1.log"
for /f "usebackq tokens=1-5" %%a in ("logs\%1.log") do (
  if "%%a %%b %%c"=="[ PASSED ]" (
    set p=%%d
    set seen=1
  )
  if "%%a %%b %%c %%e"=="[ FAILED ] tests," set f=%%d
  if "%%a %%b %%c %%e"=="[ FAILED ] test," set f=%%d
  if "%%a %%b %%c %%e"=="[ SKIPPED ] tests," set s=%%d
  if "%%a %%b %%c %%e"=="[ SKIPPED ] test," set s=%%d
)
if !seen!==0 if !f!==0 set f=1
if not !rc!==0 if !f!==0 set f=1
echo %1: !p! passed, !f! failed, !s! skipped (exit code !rc!)
set /a passed=passed+p
set /a failed=failed+f
set /a skipped=skipped+s
exit /b 0
