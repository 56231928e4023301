#!/usr/bin/env bash
# The man page and the shell completions against the command line itself:
# every command and option that `sentrel --help` shows is in the man page
# (docs/sentrel.1.scd) and in the completion table (completions/commands.txt)
# under its command, the table names no command that is gone, and bash, zsh
# and fish each complete a command, an option, an option's value and the
# disk names of a machine with the scripts the build wrote. A shell that is
# not installed is left out, said.
#
#   check_docs_and_completions.sh SENTREL SOURCE_DIR COMPLETION_DIR
set -uo pipefail
sentrel="$1"
source_dir="$2"
completions="$3"
page="$source_dir/docs/sentrel.1.scd"
table="$source_dir/completions/commands.txt"
demo="$source_dir/examples/demo-mac"
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The lines of one section ("Options:", "Subcommands:") of a help text.
section() { sed -n "/^$1:/,/^\$/p" | sed 1d; }
# The long options of a help text, and those of them that take a value.
options_of() { section Options | sed -nE 's/^  (-[a-z],)?(--[a-z-]+).*/\2/p'; }
valued_options_of() { section Options | sed -nE 's/^  (-[a-z],)?(--[a-z-]+) [A-Z].*/\2/p'; }
subcommands_of() { section Subcommands | sed -nE 's/^  ([a-z][a-z-]*) .*/\1/p'; }

# The table: its global options, its valued options, and OPTIONS per command.
read -r -a table_globals <<<"$(sed -n 's/^global //p' "$table")"
declare -A table_options table_seen
while IFS=: read -r words options _; do
  table_options["$words"]="$options"
done < <(sed -n 's/^command //p' "$table")
table_values=" $(sed -n 's/^value \([^ ]*\) .*/\1/p' "$table" | tr '\n' ' ') "

help="$("$sentrel" --help)"
globals="$(options_of <<<"$help")"
[ "$(sort <<<"$globals")" = "$(printf '%s\n' "${table_globals[@]}" | sort)" ] ||
  fail "the table's global options are not those of sentrel --help: ${table_globals[*]} / $(echo $globals)"
check_option() {  # COMMAND OPTION VALUED
  grep -qF -- "*$2*" "$page" || fail "the man page does not name $2 ($1)"
  if [ "$3" = yes ] && [[ "$table_values" != *" $2 "* ]]; then
    fail "the completion table has no value line for $2"
  fi
}
for option in $globals; do
  check_option sentrel "$option" "$(grep -qxF -- "$option" <(valued_options_of <<<"$help") && echo yes)"
done

# Each command, depth first: a command without subcommands is a leaf the
# table and the man page must name.
walk() {
  local path="$1" text sub option
  text="$("$sentrel" $path --help)"
  local subs
  subs="$(subcommands_of <<<"$text")"
  if [ -n "$subs" ]; then
    for sub in $subs; do walk "${path:+$path }$sub"; done
    return
  fi
  grep -qF -- "*sentrel $path*" "$page" || fail "the man page has no synopsis of \"sentrel $path\""
  if [ -z "${table_options[$path]+set}" ]; then
    fail "the completion table has no command \"$path\""
    return
  fi
  table_seen["$path"]=1
  for option in $(options_of <<<"$text"); do
    [ "$option" = --help ] && continue
    [[ " ${table_options[$path]} " == *" $option "* ]] ||
      fail "the completion table's \"$path\" lacks $option"
    check_option "$path" "$option" \
      "$(grep -qxF -- "$option" <(valued_options_of <<<"$text") && echo yes)"
  done
}
walk ""
for words in "${!table_options[@]}"; do
  [ -n "${table_seen[$words]+set}" ] || fail "the completion table names \"$words\", which is no command"
done

# What each shell offers for a command line whose last word is being
# typed; sentrel is found on PATH, as in a user's shell.
export PATH="$(dirname "$sentrel"):$PATH"
complete_bash() {
  bash --norc -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _sentrel
    printf "%s\n" "${COMPREPLY[@]}"' bash "$completions/sentrel" "$@"
}
complete_zsh() {
  zsh -f -c 'compadd() {
      if [[ $1 == -a ]]; then print -rl -- ${(P)2}; else shift ${@[(i)--]}; print -rl -- "$@"; fi
    }
    _files() { print -r -- "(files)"; }
    _message() { print -r -- "(anything)"; }
    _call_program() { shift; "$@"; }
    fpath=("$1" $fpath); shift
    autoload -Uz _sentrel
    words=("$@"); CURRENT=$#
    _sentrel' zsh "$completions" "$@"
}
complete_fish() {
  local line="$*"
  fish --no-config -c "source '$completions/sentrel.fish'; complete -C '$line'" | cut -f1
}
cases=(
  "health|sentrel he"
  "update|sentrel db u"
  "--workers|sentrel health --w"
  "--db-keyring|sentrel db update --db-k"
  "raw-json|sentrel --format r"
  "conveyance|sentrel selftest disk0 c"
  "disk5|sentrel --sim $demo health disk0 d"
  "disk3|sentrel health --sim $demo d"
)
for shell in bash zsh fish; do
  if ! command -v "$shell" >/dev/null; then
    echo "not checked: $shell is not installed"
    continue
  fi
  for entry in "${cases[@]}"; do
    expected="${entry%%|*}"
    read -r -a words <<<"${entry#*|}"
    # The last word is the one being typed ("d" of "disk").
    got="$("complete_$shell" "${words[@]}" 2>&1)"
    grep -qxF -- "$expected" <<<"$got" ||
      fail "$shell: \"${entry#*|}<TAB>\" does not offer $expected: $(echo $got)"
  done
done

[ "$failures" -eq 0 ] || exit 1
echo "the man page and the completions cover every command and option"
