#!/usr/bin/env bash
# Checks the built program's application manifest (resource type 24, id 1),
# taken out of the program with wrestool (icoutils) and read with xmllint
# (libxml2-utils): well-formed XML whose root is <assembly>, naming one
# assembly only, Common Controls 6, in its one <dependentAssembly>, with
# exactly the identity attributes that select it for the program's processor.
#
# Usage: manifest.sh WRESTOOL XMLLINT PROGRAM PROCESSOR   (PROCESSOR: x86 or amd64)
set -uo pipefail
wrestool=$1 xmllint=$2 program=$3 processor=$4

manifest=$(mktemp)
trap 'rm -f "$manifest"' EXIT
"$wrestool" --extract --raw --type=24 --name=1 "$program" >"$manifest" || exit 1
# Resource compilers may pad the resource with zero bytes.
perl -0777 -pi -e 's/\0+\z//' "$manifest"
if [[ ! -s $manifest ]]; then
    echo "FAIL: no RT_MANIFEST resource 1 in $program"
    exit 1
fi
"$xmllint" --noout "$manifest" || {
    echo "FAIL: the manifest is not well-formed XML:"
    cat "$manifest"
    exit 1
}

failures=0
# expect WHAT WANTED XPATH: the XPath expression's value must be WANTED.
expect() {
    local got
    got=$("$xmllint" --xpath "$3" "$manifest" 2>/dev/null)
    [[ $got == "$2" ]] || {
        echo "FAIL: $1: want '$2', got '$got'"
        failures=$((failures + 1))
    }
}
identity='//*[name()="assemblyIdentity"]'
dependent='//*[name()="dependentAssembly"]'
expect "root element" assembly 'name(/*)'
expect "assemblyIdentity elements anywhere (count, first name)" \
    "1 Microsoft.Windows.Common-Controls" "concat(count($identity), ' ', $identity/@name)"
expect "<dependentAssembly> elements" 1 "count($dependent)"
expect "<assemblyIdentity> in the <dependentAssembly>" 1 "count($dependent$identity)"
expect "attributes of the dependent assemblyIdentity" 6 "count($dependent$identity/@*)"
for attribute in type=win32 name=Microsoft.Windows.Common-Controls version=6.0.0.0 \
    processorArchitecture="$processor" publicKeyToken=6595b64144ccf1df 'language=*'; do
    name=${attribute%%=*}
    expect "assemblyIdentity $name" "${attribute#*=}" "string($dependent$identity/@$name)"
done

((failures == 0)) && echo "$program: manifest selects Common Controls 6 for $processor"
exit $((failures > 0))
