@echo off
rem Lays out a tree with real junctions for the link-safety tests on Windows.
setlocal
set "dir=%~1"
if exist "%dir%" rmdir /s /q "%dir%"
mkdir "%dir%\outside\deep" "%dir%\parent\staging\sub" || exit /b 1
echo keep>"%dir%\outside\keep.txt"
echo keep>"%dir%\outside\deep\keep.txt"
echo a>"%dir%\parent\staging\a.txt"
echo b>"%dir%\parent\staging\sub\b.txt"
mklink /J "%dir%\parent\staging\sub\link" "%dir%\outside" >nul || exit /b 1
mklink /J "%dir%\parent\linked" "%dir%\outside" >nul || exit /b 1
mklink /J "%dir%\linked-parent" "%dir%\outside" >nul || exit /b 1
mkdir "%dir%\leftovers\GameClient.install-0123456789ABCDEF0123456789ABCDEF" || exit /b 1
mklink /J "%dir%\leftovers\GameClient.install-0123456789ABCDEF0123456789ABCDEF\link" "%dir%\outside" >nul || exit /b 1
