# fish completion for stayloom

set -l commands status events mode awake run quit accept-terms launch-at-login hooks

complete -c stayloom -f
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -s h -l help -d 'Show the help'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -s v -l version -d 'Show the version'

complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a status -d 'Status, reason, agents, power, lid and the last run'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a events -d 'A line per change of the status until stopped'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a mode -d 'Print or switch the mode'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a awake -d 'Keep awake for a while'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a run -d 'Keep awake while a command runs'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a quit -d 'Quit the running copy'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a accept-terms -d 'Accept the terms'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a launch-at-login -d 'Start at login, or print whether it does'
complete -c stayloom -n "not __fish_seen_subcommand_from $commands" -a hooks -d 'Connect agents through their hooks'

complete -c stayloom -n "__fish_seen_subcommand_from status" -l json -d 'Print one JSON object'
complete -c stayloom -n "__fish_seen_subcommand_from status" -s q -l quiet -d 'Print nothing; the exit status says'
complete -c stayloom -n "__fish_seen_subcommand_from events" -l json -d 'One JSON object a line'

set -l modes watch manual sleep-after unlimited off
complete -c stayloom -n "__fish_seen_subcommand_from mode; and not __fish_seen_subcommand_from $modes" -a watch -d 'Keep awake while agents work'
complete -c stayloom -n "__fish_seen_subcommand_from mode; and not __fish_seen_subcommand_from $modes" -a manual -d 'Keep awake until you change the mode'
complete -c stayloom -n "__fish_seen_subcommand_from mode; and not __fish_seen_subcommand_from $modes" -a sleep-after -d 'Keep awake for the current work, then sleep'
complete -c stayloom -n "__fish_seen_subcommand_from mode; and not __fish_seen_subcommand_from $modes" -a unlimited -d 'Keep awake without limit while plugged in'
complete -c stayloom -n "__fish_seen_subcommand_from mode; and not __fish_seen_subcommand_from $modes" -a off -d 'Keep nothing awake'

complete -c stayloom -n "__fish_seen_subcommand_from awake" -l for -x -a '90s 30m 1h 2h 1h30m' -d 'How long'
complete -c stayloom -n "__fish_seen_subcommand_from launch-at-login; and not __fish_seen_subcommand_from on off" -a 'on off'
complete -c stayloom -n "__fish_seen_subcommand_from hooks; and not __fish_seen_subcommand_from install remove status" -a 'install remove status'
complete -c stayloom -n "__fish_seen_subcommand_from install remove" -a 'claude codex gemini qwen opencode copilot'
