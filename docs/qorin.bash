# bash completion for qorin (Plinthos): commands, each command's options, devices, image files, UUID= and
# LABEL= tags, and .tlxbak backups, the volume's own first after "restore DRIVE".

_qorin_devices()
{
    local name
    for name in /sys/class/block/*; do
        [[ -e $name ]] && printf '/dev/%s\n' "${name##*/}"
    done
}

# The values of a tag (UUID or LABEL) that volumes carry, one a line.
_qorin_tag_values()
{
    blkid -s "$1" -o value 2>/dev/null | sort -u
}

# The backups of a volume, newest first: the paths that "qorin backups" lists after its two columns.
_qorin_volume_backups()
{
    local line
    qorin backups "$@" 2>/dev/null | while IFS= read -r line; do
        [[ $line == *"  /"*.tlxbak ]] && printf '/%s\n' "${line#*  /}"
    done
}

# Adds the lines on standard input that start with $1 to COMPREPLY, one match a line (names may hold
# blanks), each once.
_qorin_reply()
{
    local candidate known
    while IFS= read -r candidate; do
        [[ -n $candidate && $candidate == "$1"* ]] || continue
        for known in "${COMPREPLY[@]}"; do
            [[ $known == "$candidate" ]] && continue 2
        done
        COMPREPLY+=("$candidate")
    done
}

_qorin()
{
    COMPREPLY=()
    # bash splits UUID=x and --backup-dir=x at the "="; such pieces are joined into one word again.
    local words=() i raw
    for ((i = 1; i <= COMP_CWORD; i++)); do
        raw=${COMP_WORDS[i]}
        if ((${#words[@]} > 0)) && [[ $raw == = || ${COMP_WORDS[i-1]} == = ]]; then
            words[-1]+=$raw
        else
            words+=("$raw")
        fi
    done
    local cur=${words[-1]}
    unset 'words[-1]'
    local prev=${words[-1]-}
    # What readline replaces: the piece after the "=" when bash split the word there.
    local split=0
    [[ $cur != "${COMP_WORDS[COMP_CWORD]}" || ${COMP_WORDS[COMP_CWORD]} == = ]] && split=1

    if [[ $prev == --backup-dir ]]; then
        _qorin_reply "$cur" < <(compgen -d -- "$cur")
        return
    fi

    # The command is the first word that is no option; later such words are its arguments.
    local word command="" drive="" positional=0 backup_dir=() options_ended=0
    for ((i = 0; i < ${#words[@]}; i++)); do
        word=${words[i]}
        if ((!options_ended)) && [[ $word == --backup-dir ]]; then
            ((i++))
            backup_dir=(--backup-dir "${words[i]-}")
        elif ((!options_ended)) && [[ $word == --backup-dir=* ]]; then
            backup_dir=("$word")
        elif ((!options_ended)) && [[ $word == -- ]]; then
            options_ended=1
        elif ((!options_ended)) && [[ $word == -* && $word != - ]]; then
            :
        elif [[ -z $command ]]; then
            command=$word
        else
            ((positional++ == 0)) && drive=$word
        fi
    done

    if [[ $cur == -* ]] && ((!options_ended)); then
        local options
        case $command in
            "") options="--help -h --version -V --json --yes -y --full64 --raw --force --all --backup-dir" ;;
            list | l | L) options="--all --json --help" ;;
            get) options="--json --help" ;;
            set | random | c | C) options="--full64 --yes -y --json --backup-dir --help" ;;
            backups) options="--json --backup-dir --help" ;;
            restore) options="--raw --force --yes -y --json --backup-dir --help" ;;
            *) options="--help" ;;
        esac
        _qorin_reply "$cur" < <(compgen -W "$options" -- "$cur")
        return
    fi
    if [[ -z $command ]]; then
        _qorin_reply "$cur" < <(compgen -W "list get set random backups restore help version" -- "$cur")
        return
    fi

    case $command:$positional in
        get:0 | set:0 | random:0 | backups:0 | restore:0 | c:0 | C:0)
            if [[ $cur == UUID=* || $cur == LABEL=* ]]; then
                local tag=${cur%%=*}
                _qorin_reply "${cur#*=}" < <(_qorin_tag_values "$tag")
                ((split)) || COMPREPLY=("${COMPREPLY[@]/#/$tag=}")
                return
            fi
            # A drive: a block device, an image file, a mounted folder, or a tag.
            _qorin_reply "$cur" < <(_qorin_devices; compgen -f -- "$cur"; compgen -W "UUID= LABEL=" -- "$cur")
            [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
            ;;
        restore:1)
            _qorin_reply "$cur" < <(_qorin_volume_backups "$drive" "${backup_dir[@]}")
            _qorin_reply "$cur" < <(compgen -f -X '!*.tlxbak' -- "$cur"; compgen -d -- "$cur")
            ;;
    esac
}

complete -o filenames -F _qorin qorin
