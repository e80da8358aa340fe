# Runs zsh's completion system in an interactive zsh on a pseudo-terminal, as a user pressing Tab:
# zsh -f zsh-complete.zsh FOLDER WORDS OUT
# FOLDER holds the completion functions; WORDS are typed, then Tab; every list of candidates zsh
# is given is appended to OUT, between lines "<<" and ">>".
zmodload zsh/zpty
zpty z zsh -f -i
zpty -w z "PS1=''; fpath=($1 \$fpath); autoload -Uz compinit; compinit -u -D -d '${3:h}/zcompdump'"
zpty -w z "compadd() { local -a found; builtin compadd -O found \"\$@\"; (( \$#found )) && print -rl -- '<<' \$found '>>' >> '$3'; builtin compadd \"\$@\" }"
zpty -w z "echo ready"
local line
# The echo of the typed line, then the command's own output.
zpty -r -m z line '*ready*'
zpty -r -m z line '*ready*'
zpty -n -w z "$2"$'\t'
# Completion writes to OUT before it redraws the line; the redraw says it is done.
zpty -r -t z line
sleep 1
zpty -d z
