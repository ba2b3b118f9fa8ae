# bash completion for qorin (Plinthos): commands, options, devices, image files and .tlxbak backups.

_qorin_devices()
{
    local name
    for name in /sys/class/block/*; do
        [[ -e $name ]] && printf '/dev/%s\n' "${name##*/}"
    done
}

_qorin()
{
    local cur prev word command="" positional=0 i
    cur=${COMP_WORDS[COMP_CWORD]}
    prev=${COMP_WORDS[COMP_CWORD-1]}
    local commands="list get set random backups restore help version"
    local options="--json --yes -y --full64 --raw --force --all --backup-dir --help -h --version"

    if [[ $prev == --backup-dir ]]; then
        COMPREPLY=($(compgen -d -- "$cur"))
        return
    fi

    # The command is the first word that is no option; later such words are its arguments.
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ $word == --backup-dir ]]; then
            ((i++))
        elif [[ $word == -* && $word != - ]]; then
            :
        elif [[ -z $command ]]; then
            command=$word
        else
            ((positional++))
        fi
    done

    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options" -- "$cur"))
        return
    fi
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        return
    fi

    case $command:$positional in
        get:0 | set:0 | random:0 | backups:0 | restore:0)
            # A drive: a block device, an image file or a mount point.
            COMPREPLY=($(compgen -W "$(_qorin_devices)" -- "$cur") $(compgen -f -- "$cur"))
            ;;
        restore:1)
            COMPREPLY=($(compgen -f -X '!*.tlxbak' -- "$cur") $(compgen -d -- "$cur"))
            ;;
        *)
            COMPREPLY=()
            ;;
    esac
}

complete -o filenames -F _qorin qorin
