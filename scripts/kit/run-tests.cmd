@echo off
rem Runs the Win32-layer tests of Tessaline Setup that touch nothing of a
rem real installation, and ends with "N passed, N failed". See README.txt.
setlocal EnableDelayedExpansion
cd /d "%~dp0"
if not exist logs mkdir logs
rem The Authenticode contract's signed samples (see README.txt).
set TSL_TRUST_SAMPLES=%~dp0trust-samples
set passed=0
set failed=0
call :run contract_tests
call :run ui_contract_tests
rem The one render test that lays out the product's own folder is left out.
call :run render_wine_tests "--gtest_filter=-RenderWineTest.InstalledShowsUpdateAndUninstall"
echo.
echo !passed! passed, !failed! failed
if !failed! neq 0 exit /b 1
exit /b 0

rem :run NAME [ARGUMENT]: runs NAME.exe, shows its output (kept in
rem logs\NAME.log) and adds GoogleTest's counts to the totals. A program
rem that fails without saying how many of its tests failed counts as one
rem failure.
:run
echo === %1
set p=0
set f=0
set seen=0
"%~dp0%1.exe" %2 > "logs\%1.log" 2>&1
set rc=!errorlevel!
type "logs\%1.log"
for /f "usebackq tokens=1-5" %%a in ("logs\%1.log") do (
  if "%%a %%b %%c"=="[ PASSED ]" (
    set p=%%d
    set seen=1
  )
  if "%%a %%b %%c %%e"=="[ FAILED ] tests," set f=%%d
  if "%%a %%b %%c %%e"=="[ FAILED ] test," set f=%%d
)
if !seen!==0 if !f!==0 set f=1
if not !rc!==0 if !f!==0 set f=1
echo %1: !p! passed, !f! failed (exit code !rc!)
set /a passed=passed+p
set /a failed=failed+f
exit /b 0
