# fish completion of sentrel(1): commands, options and disk names.

# The commands, one line each: "COMMAND;OPTIONS;ARGUMENTS". COMMAND is the
# words that name it, OPTIONS its own options, ARGUMENTS what its positional
# arguments are, in order: "disk" (a disk name of the machine), "dir",
# "file", a list of values "a|b|c", or "-" (anything). Adding a command is
# adding its line (the bash and zsh completions have the same table).
set -g __sentrel_commands \
    "health;--no-pace;disk" \
    "list;;" \
    "device;;disk" \
    "selftest;;disk short|extended|abort" \
    "capture;;disk dir" \
    "db parse;;file" \
    "db lookup;--db;- -" \
    "db presets;;" \
    "db update;--db-source;" \
    "ata command;;- -" \
    "ata feature;;- -" \
    "ata error;;-" \
    "ata status;;-" \
    "ata state;;-" \
    "decode raw;;default|raw8|raw16|raw48|hex48|raw56|hex56|raw64|hex64|raw16(raw16)|raw16(avg16)|raw24(raw8)|raw24/raw24|raw24/raw32|sec2hour|min2hour|halfmin2hour|msec24hour32|tempminmax|temp10x -" \
    "sys version;;" \
    "sys version-dict;;" \
    "sys compare;;-" \
    "sys tmutil;;" \
    "sys container;;-" \
    "sys role-volume;;System|Data|Preboot|Recovery -" \
    "sys volume-role;;-" \
    "sys mount-from;;dir" \
    "sys mount-on;;-" \
    "sys is-apfs;;dir" \
    "sys size;--readable;total|free|used|apfs-used file" \
    "sys bytes;;-" \
    "sys round-mb;;-" \
    "sys full-disk-access;;"
# The options that go before or after any command.
set -g __sentrel_global_options --sim --format --offline --journal --help
# Options that take a value, and what it is (as ARGUMENTS above).
set -g __sentrel_option_values "--sim;dir" "--journal;file" "--format;text|json|plist" \
    "--db;file" "--db-source;-"

# The candidates of one kind of value; $argv[2] is the --sim folder.
function __sentrel_value
    switch $argv[1]
        case disk
            set -l machine
            test -n "$argv[2]"; and set machine --sim $argv[2]
            $__sentrel_program $machine --offline --format json list 2>/dev/null |
                string replace -rf '^  "([^"]*)": \{.*' '$1'
        case dir
            __fish_complete_directories (commandline -ct)
        case file
            __fish_complete_path (commandline -ct)
        case -
        case '*'
            string split '|' -- $argv[1]
    end
end

function __sentrel_complete
    set -l tokens (commandline -opc)
    set -l current (commandline -ct)
    set -g __sentrel_program $tokens[1]
    set -l sim

    # The value of an option that takes one.
    for entry in $__sentrel_option_values
        set -l pair (string split -m1 ';' -- $entry)
        if test "$tokens[-1]" = "$pair[1]"
            __sentrel_value $pair[2] $sim
            return
        end
    end

    # The words typed so far without the options and their values.
    set -l typed
    set -l skip 0
    for i in (seq 2 (count $tokens))
        set -l word $tokens[$i]
        if test $skip -eq 1
            set skip 0
            continue
        end
        switch $word
            case --sim
                set -l next (math $i + 1)
                set sim $tokens[$next]
                set skip 1
            case '--*=*'
            case '-*'
                for entry in $__sentrel_option_values
                    test "$word" = (string split -m1 ';' -- $entry)[1]; and set skip 1
                end
            case '*'
                set typed $typed $word
        end
    end

    # The command the words name, and the next command words they may go on with.
    set -l command
    set -l depth 0
    set -l options
    set -l arguments
    set -l candidates
    for entry in $__sentrel_commands
        set -l fields (string split ';' -- $entry)
        set -l parts (string split ' ' -- $fields[1])
        set -l n (count $parts)
        set -l t (count $typed)
        if test $n -le $t; and test "$typed[1..$n]" = "$fields[1]"; and test $n -gt $depth
            set command $fields[1]
            set depth $n
            set options (string split ' ' -- $fields[2])
            set arguments (string split ' ' -- $fields[3])
        else if test $n -gt $t
            if test $t -eq 0; or test "$parts[1..$t]" = "$typed"
                set -l next $parts[(math $t + 1)]
                contains -- $next $candidates; or set candidates $candidates $next
            end
        end
    end

    if string match -q -- '-*' $current
        printf '%s\n' $__sentrel_global_options $options
    else if test -z "$command"; and test (count $candidates) -gt 0
        printf '%s\n' $candidates
    else if test -n "$command"
        # A positional argument of the command.
        set -l position (math (count $typed) - $depth + 1)
        if test $position -le (count $arguments); and test -n "$arguments[$position]"
            __sentrel_value $arguments[$position] $sim
        end
    end
end

complete -c sentrel -f -a '(__sentrel_complete)'
