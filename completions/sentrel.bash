# bash completion of sentrel(1): commands, options and disk names.
# Needs no bash-completion helpers; bash-completion loads it on demand from
# its completions folder, or `source` it.

# The commands, one line each: "COMMAND;OPTIONS;ARGUMENTS". COMMAND is the
# words that name it, OPTIONS its own options, ARGUMENTS what its positional
# arguments are, in order: "disk" (a disk name of the machine), "dir",
# "file", a list of values "a|b|c", or "-" (anything). Adding a command is
# adding its line.
_sentrel_commands=(
  "health;--no-pace;disk"
  "list;;"
  "device;;disk"
  "selftest;;disk short|extended|abort"
  "capture;;disk dir"
  "db parse;;file"
  "db lookup;--db;- -"
  "db presets;;"
  "db update;--db-source;"
  "ata command;;- -"
  "ata feature;;- -"
  "ata error;;-"
  "ata status;;-"
  "ata state;;-"
  "decode raw;;default|raw8|raw16|raw48|hex48|raw56|hex56|raw64|hex64|raw16(raw16)|raw16(avg16)|raw24(raw8)|raw24/raw24|raw24/raw32|sec2hour|min2hour|halfmin2hour|msec24hour32|tempminmax|temp10x -"
  "sys version;;"
  "sys version-dict;;"
  "sys compare;;-"
  "sys tmutil;;"
  "sys container;;-"
  "sys role-volume;;System|Data|Preboot|Recovery -"
  "sys volume-role;;-"
  "sys mount-from;;dir"
  "sys mount-on;;-"
  "sys is-apfs;;dir"
  "sys size;--readable;total|free|used|apfs-used file"
  "sys bytes;;-"
  "sys round-mb;;-"
  "sys full-disk-access;;"
)
# The options that go before or after any command.
_sentrel_global_options="--sim --format --offline --journal --help"
# Options that take a value, and what it is (as ARGUMENTS above).
_sentrel_option_values=("--sim;dir" "--journal;file" "--format;text|json|plist" "--db;file"
  "--db-source;-")

# The disk names of the machine the line is about (the --sim folder given
# earlier on the line, or this one): the keys of `sentrel list` in JSON.
_sentrel_disks() {
  local -a machine=()
  [ -n "$1" ] && machine=(--sim "$1")
  "${COMP_WORDS[0]}" "${machine[@]}" --offline --format json list 2>/dev/null |
    sed -n 's/^  "\([^"]*\)": {.*/\1/p'
}

# Puts the candidates for one kind of value into COMPREPLY.
_sentrel_values() {
  local kind="$1" cur="$2" sim="$3"
  case "$kind" in
    disk) COMPREPLY=($(compgen -W "$(_sentrel_disks "$sim")" -- "$cur")) ;;
    dir) COMPREPLY=($(compgen -d -- "$cur")) ;;
    file) COMPREPLY=($(compgen -f -- "$cur")) ;;
    -) COMPREPLY=() ;;
    *) COMPREPLY=($(compgen -W "${kind//|/ }" -- "$cur")) ;;
  esac
}

_sentrel() {
  local cur="${COMP_WORDS[COMP_CWORD]}" prev="" sim="" word entry i
  [ "$COMP_CWORD" -gt 0 ] && prev="${COMP_WORDS[COMP_CWORD - 1]}"
  COMPREPLY=()

  # The value of an option that takes one.
  for entry in "${_sentrel_option_values[@]}"; do
    if [ "$prev" = "${entry%%;*}" ]; then
      _sentrel_values "${entry#*;}" "$cur" ""
      return
    fi
  done

  # The words typed so far without the options and their values: the
  # command's words, then its positional arguments.
  local -a words=()
  for ((i = 1; i < COMP_CWORD; i++)); do
    word="${COMP_WORDS[i]}"
    case "$word" in
      --sim) sim="${COMP_WORDS[i + 1]}"; i=$((i + 1)); continue ;;
      --*=*) continue ;;
      -*)
        for entry in "${_sentrel_option_values[@]}"; do
          [ "$word" = "${entry%%;*}" ] && i=$((i + 1))
        done
        continue
        ;;
    esac
    words+=("$word")
  done
  sim="${sim/#\~/$HOME}"

  # The command the words name, and the next command words they may go on with.
  local command="" depth=0 options="" arguments="" candidates="" name next
  for entry in "${_sentrel_commands[@]}"; do
    name="${entry%%;*}"
    local -a parts=($name)
    if [ ${#parts[@]} -le ${#words[@]} ] && [ "${words[*]:0:${#parts[@]}}" = "$name" ] &&
      [ ${#parts[@]} -gt "$depth" ]; then
      command="$name"
      depth=${#parts[@]}
      entry="${entry#*;}"
      options="${entry%%;*}"
      arguments="${entry#*;}"
    elif [ ${#parts[@]} -gt ${#words[@]} ] && [ "${parts[*]:0:${#words[@]}}" = "${words[*]}" ]; then
      next="${parts[${#words[@]}]}"
      [[ " $candidates " == *" $next "* ]] || candidates+=" $next"
    fi
  done

  if [[ "$cur" == -* ]]; then
    COMPREPLY=($(compgen -W "$_sentrel_global_options $options" -- "$cur"))
  elif [ -n "$candidates" ] && [ -z "$command" ]; then
    COMPREPLY=($(compgen -W "$candidates" -- "$cur"))
  elif [ -n "$command" ]; then
    # A positional argument of the command.
    local -a kinds=($arguments)
    local position=$((${#words[@]} - depth))
    [ "$position" -lt ${#kinds[@]} ] && _sentrel_values "${kinds[position]}" "$cur" "$sim"
  fi
  return 0
}

complete -F _sentrel sentrel
