#!/usr/bin/env bash
# Checks that the manual page and the bash completion know exactly the
# options that vantrel-convert --help lists (which come from the tool's
# option table), agree on which of them take a value, and that the manual
# page states the ranges and defaults that --help states.
# Arguments: the program, the manual page source, the completion script.
set -euo pipefail
program=$1 manual=$2 completion=$3

# From --help: each option line gives its names, and its value in capitals.
help_all=$("$program" --help | grep -oE '^  (-[a-z], )?--[a-z-]*( [A-Z]+)?' |
    grep -oE -- '-[-a-z]*' | sort)
help_valued=$("$program" --help | grep -oE '^  --[a-z-]+ [A-Z]+' | awk '{print $1}' | sort)

# From the manual page: the tags of the OPTIONS section (the lines after
# .TP); a tag set with .BI carries a value.
tags=$(sed -n '/^\.SH OPTIONS/,/^\.SH [^O]/p' "$manual" | grep -A1 '^\.TP' | grep -v '^\.TP\|^--')
man_all=$(sed 's/\\-/-/g' <<<"$tags" | grep -oE -- '(^| )-[-a-z]*' | tr -d ' ' | sort)
man_valued=$(grep '^\.BI' <<<"$tags" | sed 's/\\-/-/g' | grep -oE -- '--[a-z-]+' | sort)

# From the completion: its two lists.
source "$completion"
completion_all=$(printf '%s\n' "${_vantrel_convert_options[@]}" | sort)
completion_valued=$(printf '%s\n' "${_vantrel_convert_valued[@]}" | sort)

failures=0
agree() {
    if [[ $2 != "$3" ]]; then
        echo "FAIL: $1"
        diff <(echo "$2") <(echo "$3") | sed 's/^/  /' || true
        failures=$((failures + 1))
    fi
}
agree "options: --help (<) against the manual page (>)" "$help_all" "$man_all"
agree "options: --help (<) against the completion (>)" "$help_all" "$completion_all"
agree "options with a value: --help (<) against the manual page (>)" "$help_valued" "$man_valued"
agree "options with a value: --help (<) against the completion (>)" "$help_valued" \
    "$completion_valued"
# Ranges and defaults: each "N to M" and "default N" that --help states for
# an option (from the option table), its entry in the manual page states.
help_text=$("$program" --help)
for option in $help_valued; do
    stated() {
        tr '\n' ' ' | tr -s ' ' | sed -E 's/default is/default/g' |
            grep -oE '[0-9]+ to [0-9]+|default [0-9]+' | sort -u || true
    }
    in_help=$(awk -v o="$option" '$1 == o { on = 1; print; next } on && /^  -/ { exit } on' \
        <<<"$help_text" | stated)
    in_manual=$(sed 's/\\-/-/g' "$manual" |
        awk -v o="$option" '/^\.TP/ { on = 0 } on; /^\.BI / && $2 == o { on = 1 }' | stated)
    [[ -n $in_help ]] || continue
    agree "ranges and defaults of $option: --help (<) against the manual page (>)" \
        "$in_help" "$(grep -Fx -f <(echo "$in_help") <<<"$in_manual" || true)"
done
[[ -n $help_all ]] || { echo "FAIL: --help lists no options"; exit 1; }
((failures == 0)) && echo "help, manual page and completion agree on $(wc -w <<<"$help_all") options"
exit $((failures != 0))
