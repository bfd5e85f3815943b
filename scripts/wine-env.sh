# Sourced by the scripts: the quiet, headless Wine environment of this project.
# The prefix belongs to the build tree, never to the user's ~/.wine.
STUB_ROOT="${STUB_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}"
export WINEPREFIX="${STUB_WINEPREFIX:-$STUB_ROOT/build/wineprefix}"
export WINEARCH=win64
export WINEDEBUG=-all
# No Gecko or Mono install prompts: MSHTML and .NET are not used under Wine.
# No menu entries on the Linux side for shortcuts that installers create.
# No automatic debugger: it would hold a crashed test (and its output pipe)
# until the test's timeout; without it a crash ends the program at once.
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
unset DISPLAY WAYLAND_DISPLAY
