# bash completion for vantrel-convert: its options, after --send the MIDI
# output ports that `vantrel-convert --list-ports` prints, after --receive
# the sources that `--list-inputs` prints, after --rate "max", and after
# --input and --output file names.
#
# A line of the list is a port's name, then for ALSA and WinMM ports two
# spaces and its address in brackets ("winmm:USB MIDI  [2]", a card's raw
# MIDI subdevice "alsa:USB MIDI:USB MIDI MIDI 1  [hw:1,0,0]"). A name is
# offered alone where it is the only one of its kind; where names repeat
# (two devices of one make), each port is offered as its whole line, which
# chooses it by its address.
#
# Port names hold colons and often spaces ("alsa:Midi Through:Midi Through
# Port-0"). Bash splits the word under the cursor at every character of
# COMP_WORDBREAKS, the colon among them, and replaces only the last piece
# with the completion. So the pieces are joined again to find what was
# typed, and each reply holds only the part of a name after the last piece
# boundary, escaped for the shell unless the user opened a quote.

# The options, and those of them that take a value (checked against the
# tool's own option table by a test).
_vantrel_convert_options=(--check --syx --decode --send --rate --interval --list-ports --receive
    --count --timeout --list-inputs --input --output -h --help --version --)
_vantrel_convert_valued=(--send --rate --interval --receive --count --timeout --input --output)

# Sets `_vantrel_typed` to the current word as the shell will read it (quotes
# and backslashes removed), `_vantrel_kept` to how much of it stays in front
# of the piece that bash replaces, and `_vantrel_quoted` to the quote
# character still open at the cursor, if any.
_vantrel_convert_unquote() {
    local raw=$1 i c quote= breaks=${COMP_WORDBREAKS//[[:space:]\"\']/}
    _vantrel_typed= _vantrel_kept=0
    for ((i = 0; i < ${#raw}; i++)); do
        c=${raw:i:1}
        if [[ -n $quote ]]; then
            if [[ $c == "$quote" ]]; then
                quote=
            elif [[ $quote == \" && $c == \\ && $((i + 1)) -lt ${#raw} ]]; then
                ((i++))
                _vantrel_typed+=${raw:i:1}
            else
                _vantrel_typed+=$c
            fi
        elif [[ $c == \' || $c == \" ]]; then
            quote=$c
            _vantrel_kept=${#_vantrel_typed}
        elif [[ $c == \\ ]]; then
            ((i++))
            _vantrel_typed+=${raw:i:1}
        else
            _vantrel_typed+=$c
            [[ $breaks == *"$c"* ]] && _vantrel_kept=${#_vantrel_typed}
        fi
    done
    _vantrel_quoted=$quote
}

# Adds to COMPREPLY each of the words given after the first that begins
# with what is typed (the first word, raw), as bash will put it in.
_vantrel_convert_offer() {
    local raw=$1 word rest _vantrel_typed _vantrel_kept _vantrel_quoted
    shift
    _vantrel_convert_unquote "$raw"
    for word in "$@"; do
        [[ $word == "$_vantrel_typed"* ]] || continue
        rest=${word:_vantrel_kept}
        if [[ -z $_vantrel_quoted ]]; then
            printf -v rest '%q' "$rest"
        fi
        COMPREPLY+=("$rest")
    done
}

# Completes the port name `raw` from what `program listing` prints.
_vantrel_convert_ports() {
    local program=$1 listing=$2 raw=$3 line name i
    local -a lines=() names=()
    local -A count=()
    while IFS= read -r line; do
        name=$line
        [[ $line =~ ^(.*)\ \ \[([0-9:]+|hw:[^],]+,[0-9]+,[0-9]+)\]$ ]] && name=${BASH_REMATCH[1]}
        lines+=("$line")
        names+=("$name")
        count[$name]=$((${count[$name]:-0} + 1))
    done < <("$program" "$listing" 2>/dev/null)
    for i in "${!names[@]}"; do
        ((${count[${names[i]}]} > 1)) && names[i]=${lines[i]}
    done
    _vantrel_convert_offer "$raw" "${names[@]}"
}

_vantrel_convert() {
    COMPREPLY=()
    # The words up to the cursor, with the pieces that bash split at
    # COMP_WORDBREAKS but that touch each other joined again.
    local line=${COMP_LINE:0:COMP_POINT} words=() word gap i
    for ((i = 0; i <= COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        gap=${line%%[![:space:]]*}
        line=${line:${#gap}}
        ((i == COMP_CWORD)) && word=$line
        if ((i > 0)) && [[ -z $gap ]]; then
            words[-1]+=$word
        else
            words+=("$word")
        fi
        line=${line:${#word}}
    done
    local cur=${words[-1]} prev=
    ((${#words[@]} > 1)) && prev=${words[-2]}

    # After "--" (not one that is an option's value) come only commands.
    for ((i = 1; i < ${#words[@]} - 1; i++)); do
        [[ ${words[i]} == -- && " ${_vantrel_convert_valued[*]} " != *" ${words[i - 1]} "* ]] &&
            return 0
    done
    case $prev in
    --send)
        _vantrel_convert_ports "${words[0]}" --list-ports "$cur"
        return 0
        ;;
    --receive)
        _vantrel_convert_ports "${words[0]}" --list-inputs "$cur"
        return 0
        ;;
    --rate)
        _vantrel_convert_offer "$cur" max
        return 0
        ;;
    --input | --output)
        # A file's name: bash's own file completion.
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        return 0
        ;;
    esac
    # The value of any other option is a number: nothing to offer.
    [[ " ${_vantrel_convert_valued[*]} " == *" $prev "* ]] && return 0
    if [[ $cur == -* ]]; then
        local option
        for option in "${_vantrel_convert_options[@]}"; do
            [[ $option == --* && $option == "$cur"* ]] && COMPREPLY+=("$option")
        done
    fi
    return 0
}

complete -F _vantrel_convert vantrel-convert vantrel-convert.exe
