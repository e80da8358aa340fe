# bash completion for stayloom                                  -*- shell-script -*-

_stayloom() {
    local cur prev words cword
    if declare -F _init_completion >/dev/null 2>&1; then
        _init_completion || return
    else
        cur=${COMP_WORDS[COMP_CWORD]}
        prev=${COMP_WORDS[COMP_CWORD-1]}
        words=("${COMP_WORDS[@]}")
        cword=$COMP_CWORD
    fi

    local commands="status events mode awake run quit accept-terms launch-at-login hooks"
    local modes="watch manual sleep-after unlimited off"
    local agents="claude codex gemini qwen opencode copilot"

    # The command is the first word that is not an option.
    local command="" i
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --) return ;; # what follows run -- is another program's
        -*) ;;
        *)
            command=${words[i]}
            break
            ;;
        esac
    done

    if [[ $prev == --for ]]; then
        COMPREPLY=($(compgen -W "90s 30m 1h 2h 1h30m" -- "$cur"))
        return
    fi

    case $command in
    "")
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--help --version" -- "$cur"))
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        ;;
    status) COMPREPLY=($(compgen -W "--json --quiet" -- "$cur")) ;;
    events) COMPREPLY=($(compgen -W "--json" -- "$cur")) ;;
    mode) [[ $i -eq $((cword - 1)) ]] && COMPREPLY=($(compgen -W "$modes" -- "$cur")) ;;
    awake) COMPREPLY=($(compgen -W "--for" -- "$cur")) ;;
    launch-at-login) [[ $i -eq $((cword - 1)) ]] && COMPREPLY=($(compgen -W "on off" -- "$cur")) ;;
    hooks)
        if [[ $i -eq $((cword - 1)) ]]; then
            COMPREPLY=($(compgen -W "install remove status" -- "$cur"))
        elif [[ ${words[i + 1]} != status ]]; then
            COMPREPLY=($(compgen -W "$agents" -- "$cur"))
        fi
        ;;
    run) [[ $i -eq $((cword - 1)) ]] && COMPREPLY=($(compgen -W "--" -- "$cur")) ;;
    esac
}
complete -F _stayloom stayloom
