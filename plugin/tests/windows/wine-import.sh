#!/usr/bin/env bash
# Runs the 64-bit build of the module under Wine in a real X display, as the host would: the
# test host loads it, checks its exports and imports the sample while xdotool plays the user.
#
# First run: tick "Include lods", press "Lets GO !", dismiss the summary; the scene must hold
# the sample's four meshes with their textures. Second run: close the dialog with its close
# box; the import must succeed with nothing imported and no summary.
#   wine-import.sh WINDOWS64_BUILD SAMPLE_MODEL OUTPUT_FOLDER   (screenshots go to the output)
set -uo pipefail
build=$(realpath "$1") sample=$(realpath "$2") output=$(realpath -m "$3")
mkdir -p "$output"
rm -f "$output"/*.png "$output/shots.log" # a screenshot missing from this run must not be an old one
stage=$output/module
mkdir -p "$stage"
cp "$build/host/wine-test-host.exe" "$build/host/BrennicStandInHost.dll" "$build/plugin/BrennicMeshImport.dli" "$stage/"

export WINEPREFIX=${WINEPREFIX:-$(dirname "$build")/wine-prefix}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko install prompts
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "making the Wine prefix $WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    # No window manager here: Wine draws the frames (caption, close box) itself, and does not
    # wait for a window manager to answer.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null # caption buttons
    wineserver -w
fi

for number in $(seq 90 140); do [ -e "/tmp/.X$number-lock" ] || break; done
Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$number
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.05; done
trap 'wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null' EXIT

passed=0 failed=0
check() { # check WHAT COMMAND...
    if "${@:2}" >/dev/null 2>&1; then passed=$((passed + 1)); echo "ok $1"; else failed=$((failed + 1)); echo "FAIL $1"; fi
}
window() { timeout 60 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -1; }
shot() { # shot WINDOW NAME: a screenshot that cannot be taken fails its check; why goes to shots.log
    local taken=false
    for _ in $(seq 20); do
        sleep 0.25 # let the window paint first
        if import -window "$1" "$output/$2.png" 2>>"$output/shots.log"; then taken=true; break; fi
    done
    check "screenshot $2.png" $taken
}
finish() { # waits up to 30 s for the test host to end by itself
    for _ in $(seq 300); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$1" 2>/dev/null && { kill "$1"; echo "test host did not end; killed"; }
    wait "$1"
}
model='Z:'$(tr / '\\' <<<"$sample")

# -- Ticking "Include lods" and pressing "Lets GO !"
(cd "$stage" && exec wine wine-test-host.exe BrennicMeshImport.dli "$model") >"$output/import.txt" 2>&1 &
host=$!
dialog=$(window "Brennic Models Importer")
check "the settings dialog appears" test -n "$dialog"
if [ -n "$dialog" ]; then
    shot "$dialog" wine-dialog
    xdotool windowfocus --sync "$dialog" key space # the checkbox is the first tab stop
    shot "$dialog" wine-dialog-ticked
    xdotool key Return Escape # OK and Cancel: the dialog ignores both
    xdotool key Tab space     # "Lets GO !"
    summary=$(window "Brennic Model Importer \(by Tamsel\)")
    check "the summary box appears" test -n "$summary"
    if [ -n "$summary" ]; then
        shot "$summary" wine-summary
        xdotool windowfocus --sync "$summary" key Return
    fi
fi
finish "$host"
check "test host ends with every check passed" test $? -eq 0
result=$(tr -d "\r" <"$output/import.txt") # Wine's console ends lines with CR LF
check "exports, descriptor and importer answer in the module" test -z "$(grep '^FAIL' <<<"$result")"
check "DoImport returns 1" grep -qx "DoImport 1" <<<"$result"
check "the views are redrawn once" grep -qx "redraws 1" <<<"$result"
check "four nodes, LOD included" test "$(grep -c '^node ' <<<"$result")" -eq 4
content=${model%\\meshes\\*}
for expected in \
    "node crate_body vertices 8 faces 12 material props\\crate_body map $content\\textures\\props\\crate.1024.dds" \
    "node crate_lid vertices 8 faces 12 material props\\crate_lid map $content\\textures\\props\\crate.1024.dds" \
    "node barrel vertices 170 faces 336 material props\\barrel map $content\\textures\\props\\barrel.512.dds" \
    "node barrel_lod1 vertices 26 faces 48 material props\\barrel_lod1 map $content\\textures\\props\\barrel.512.dds"; do
    check "${expected%% material*}, its material and texture" grep -qxF "$expected" <<<"$result"
done

# -- Closing the dialog with its close box
(cd "$stage" && exec wine wine-test-host.exe BrennicMeshImport.dli "$model") >"$output/closed.txt" 2>&1 &
host=$!
dialog=$(window "Brennic Models Importer")
check "the settings dialog appears again" test -n "$dialog"
if [ -n "$dialog" ]; then
    shot "$dialog" wine-dialog-again
    eval "$(xdotool getwindowgeometry --shell "$dialog")"
    xdotool mousemove $((X + WIDTH - 13)) $((Y + 12)) click 1 # the close box, drawn by Wine
fi
finish "$host"
check "test host ends by itself: no summary box waits" test $? -eq 0
result=$(tr -d "\r" <"$output/closed.txt")
check "closed dialog: DoImport returns 1" grep -qx "DoImport 1" <<<"$result"
check "closed dialog: nothing imported, nothing redrawn" test -z "$(grep -E '^node |^redraws [1-9]' <<<"$result")"

echo "$passed passed, $failed failed"
((failed == 0))
