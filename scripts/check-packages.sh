#!/usr/bin/env bash
# Checks the packages that scripts/package.sh made in build/packages/ the way
# a user meets them:
# - lintian reports no errors and no warnings on the .deb;
# - the .deb unpacked with dpkg-deb -x gives a vantrel-convert that runs
#   there (--version, one conversion), and a manual page that renders with
#   no warnings;
# - each Windows zip holds exactly one folder with the two programs and the
#   documents for Windows (README.txt, LICENSE.txt, THIRD-PARTY-NOTICES.txt,
#   every line ending with CR LF), and the programs, unzipped into an empty
#   folder, start under Wine: the run demonstration's helper sees the dialog
#   come up, convert and close with status 0, and vantrel-convert.exe prints
#   its line;
# - README.txt agrees with that vantrel-convert.exe's --help: every option it
#   names is an option of the help, and it lists the same exit statuses;
# - cmake --install of the native build into a DESTDIR places every file.
# Needs the native, windows and windows64 builds and uses the display in
# DISPLAY (or a virtual one of its own), as scripts/test.sh runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
source scripts/wine-env.sh
tmp=$(mktemp -d)
trap 'vantrel_stop_display; rm -rf "$tmp"' EXIT
vantrel_start_display

fail() {
    echo "packages: $*" >&2
    exit 1
}

# The options a text names (--name), one to a line.
named_options() { grep -oE -- '--[a-z][a-z-]*' "$1" | sort -u; }
# The options of a --help, one to a line: those its option lines begin with.
help_options() { grep -oE '^  (-[a-z], )?--[a-z-]*' "$1" | grep -oE -- '--[a-z-]*' | sort -u; }
# The exit statuses a text lists: lines that begin with a number and two
# spaces ("  4    the port ..."), one to a line.
listed_statuses() { grep -oE '^ +[0-9]+  ' "$1" | tr -d ' ' | sort -n; }

# README.txt (README) against the --help of the program beside it (HELP);
# NAME names the README in messages.
readme_agrees() {
    local readme=$1 help=$2 name=$3 option missing=() statuses
    for option in $(named_options "$readme"); do
        help_options "$help" | grep -qxF -- "$option" || missing+=("$option")
    done
    ((${#missing[@]} == 0)) || fail "$name names options the help does not have: ${missing[*]}"
    statuses=$(listed_statuses "$help" | xargs)
    [[ -n $statuses ]] || fail "the help lists no exit statuses"
    [[ $(listed_statuses "$readme" | xargs) == "$statuses" ]] ||
        fail "$name lists the exit statuses $(listed_statuses "$readme" | xargs); the help $statuses"
    echo "$name agrees with --help: $(named_options "$readme" | wc -l) options, statuses $statuses"
}

# The same command and message as the README's first example.
command='set x'
message='F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7'
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
packages=build/packages

echo "=== packages: the .deb"
deb=$packages/vantrel-convert_${version}_$(dpkg --print-architecture).deb
[[ -f $deb ]] || fail "no $deb"
lintian_report=$(lintian --fail-on error,warning "$deb" 2>&1) ||
    fail "lintian reports errors or warnings on $deb:"$'\n'"$lintian_report"
echo "lintian: no errors, no warnings on $deb"

dpkg-deb -x "$deb" "$tmp/root"
tool=$tmp/root/usr/bin/vantrel-convert
[[ $("$tool" --version) == "$version" ]] || fail "the .deb's vantrel-convert --version is not $version"
[[ $("$tool" "$command") == "$message" ]] || fail "the .deb's vantrel-convert does not convert"
page=$tmp/root/usr/share/man/man1/vantrel-convert.1.gz
man --warnings -E UTF-8 -l -Tutf8 -Z "$page" >"$tmp/page" 2>"$tmp/page-warnings"
[[ ! -s $tmp/page-warnings ]] || fail "the manual page renders with warnings: $(cat "$tmp/page-warnings")"
grep -q 'SYNOPSIS' "$tmp/page" || fail "the manual page renders without its synopsis"
bash -n "$tmp/root/usr/share/bash-completion/completions/vantrel-convert"
echo "the .deb's vantrel-convert runs, and its manual page renders with no warnings"

for bits in 32 64; do
    echo "=== packages: the $bits-bit zip"
    top=vantrel-$version-win$bits
    zip=$packages/$top.zip
    documents=(README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt)
    expected=$(printf "$top/%s\n" "${documents[@]}" Vantrel.exe vantrel-convert.exe | sort)
    listed=$(unzip -Z1 "$zip" | sort)
    [[ $listed == "$expected" ]] ||
        fail "$zip holds"$'\n'"$listed"$'\n'"instead of"$'\n'"$expected"
    unzip -q "$zip" -d "$tmp/win$bits"
    folder=$tmp/win$bits/$top
    # Windows' editors want CR LF: every line, the last one included, ends so.
    for document in "${documents[@]}"; do
        file=$folder/$document
        [[ -s $file ]] || fail "$zip: $document is empty"
        bad=$(grep -c -v $'\r$' "$file") || true
        ((bad == 0)) || fail "$zip: $bad lines of $document do not end with CR LF"
        [[ -z $(tail -c 1 "$file") ]] || fail "$zip: the last line of $document has no line end"
    done
    echo "$zip: ${documents[*]} end every line with CR LF"

    vantrel_use_wine "$bits"
    vantrel_prepare_wine
    build=build/windows
    ((bits == 64)) && build=build/windows64
    demo=$(find "$build" -name vantrel_demo.exe -print -quit)
    [[ -n $demo ]] || fail "no vantrel_demo.exe in $build"
    # The helper closes the dialog after the first line on its input.
    demo_status=0
    echo close | "$VANTREL_WINE" "$demo" "Z:${folder//\//\\}\\Vantrel.exe" "$command" \
        >"$tmp/demo" 2>&1 || demo_status=$?
    sed 's/^/  /' "$tmp/demo"
    ((demo_status == 0)) || fail "the unzipped Vantrel.exe ($bits-bit) did not run as it should"
    converted=$("$VANTREL_WINE" "$folder/vantrel-convert.exe" "$command")
    [[ $converted == "$message" ]] ||
        fail "the unzipped vantrel-convert.exe ($bits-bit) printed '$converted'"
    echo "$zip: the programs run from the unzipped folder"
    "$VANTREL_WINE" "$folder/vantrel-convert.exe" --help >"$tmp/help" ||
        fail "the unzipped vantrel-convert.exe ($bits-bit) --help failed"
    tr -d '\r' <"$folder/README.txt" >"$tmp/README.txt"
    readme_agrees "$tmp/README.txt" "$tmp/help" "$zip: README.txt"
done

echo "=== packages: cmake --install"
DESTDIR=$tmp/installed cmake --install build/native --prefix /usr >/dev/null
expected=$(printf '%s\n' bin/vantrel-convert share/man/man1/vantrel-convert.1 \
    share/bash-completion/completions/vantrel-convert share/doc/vantrel-convert/README.md \
    share/doc/vantrel-convert/LICENSE share/doc/vantrel-convert/THIRD-PARTY-NOTICES.txt | sort)
installed=$(cd "$tmp/installed/usr" && find . -type f | sed 's|^\./||' | sort)
[[ $installed == "$expected" ]] ||
    fail "cmake --install placed"$'\n'"$installed"$'\n'"instead of"$'\n'"$expected"
echo "cmake --install placed all $(wc -l <<<"$installed") files"
echo "packages: every check passed in $(vantrel_progress_elapsed $((SECONDS - started)))"
