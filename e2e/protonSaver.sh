#!/bin/sh
# A Linux editor saving Nubilo.ini while the game runs under Wine (Proton), where no Windows share
# mode binds it. Started by nubiloWinProton as a native process.
#
#   protonSaver.sh FOLDER MODE SAVES SECONDS REPORT
#
# MODE "rename": each save is written to a file of the editor's own and renamed over Nubilo.ini
# (Kate, gedit, JetBrains); "inplace": Nubilo.ini is truncated and written (VS Code, nano). After
# each save, and a pause of 0 to 9 ms, the file is read back (the last save again 2 s later): the
# save is lost when it no longer holds the save's minutes (Rain and Thunder differ from save to
# save; the plug-in's own rewrite keeps them).
# Ends after SAVES saves or SECONDS seconds and writes "saves lost" (then the first losses, and the
# count of refused tries made again) to REPORT, whole: the game waits for that file.
set -u
cd "$1" || exit 2
mode=$2
saves=$3
seconds=$4
report=$5

# Save i's text: unique minutes for Rain and Thunder, 1440 for the others so that nothing is due by
# the clock alone; the star on Clear.
saveText() {
    rain=$(( 1 + $1 % 1440 ))
    thunder=$(( 1 + $1 / 1440 ))
    text="; saved by a Linux editor
[Settings]
Set Rain Time = $rain
Set Thunder Time = $thunder
Set Cloudy Time = 1440
Set Dust Storms Time = 1440
Set Fog Time = 1440
Set Clear Time = 1440*
Set Snow Time = 1440
Set Wind Time = 1440
Set Snowlight Time = 1440
Set Blizzard Time = 1440
"
}

# Whether Nubilo.ini holds Rain $1 and Thunder $2 (builtins only: no process per look).
holds() {
    found=no
    seenRain= seenThunder=
    while IFS= read -r line; do
        found=yes
        case $line in
            "Set Rain Time = "*) value=${line#"Set Rain Time = "}; seenRain=${value%%[!0-9]*} ;;
            "Set Thunder Time = "*) value=${line#"Set Thunder Time = "}; seenThunder=${value%%[!0-9]*} ;;
        esac
    done 2>/dev/null < Nubilo.ini
    [ "$found" = yes ] && [ "$seenRain" = "$1" ] && [ "$seenThunder" = "$2" ]
}

saveOnce() {
    if [ "$mode" = rename ]; then
        printf '%s' "$text" > Nubilo.ini.editor-save && mv -f Nubilo.ini.editor-save Nubilo.ini
    else
        printf '%s' "$text" > Nubilo.ini
    fi
}

# A save refused (mv has answered so while the name was between the plug-in's renames) is one the
# editor reports and the player makes again, so it is made again here; no silent loss, but counted.
save() {
    tries=0
    until saveOnce 2>/dev/null; do
        refused=$(( refused + 1 ))
        tries=$(( tries + 1 ))
        [ "$tries" -ge 20 ] && return 1
        sleep 0.002
    done
}

# Whether save $1 (Rain $2, Thunder $3) is still there; counted lost if not. Missing for a moment
# (between the plug-in's renames), or its rewrite on the way out of the name while the save goes
# back: looked at again, for a second at most (a tenth while there).
lookFor() {
    look=0
    while :; do
        holds "$2" "$3" && return 0
        [ "$look" -ge 500 ] && break
        [ -e Nubilo.ini ] && [ "$look" -ge 50 ] && break
        look=$(( look + 1 ))
        sleep 0.002
    done
    lost=$(( lost + 1 ))
    [ "$lost" -le 3 ] && losses="$losses save $1 lost (the file held Rain ${seenRain:-none}, Thunder ${seenThunder:-none});"
    return 1
}

seed=$(( 20261208 + ${#mode} ))
deadline=$(( $(date +%s) + seconds ))
made=0
lastKept=no
refused=0
lost=0
losses=
i=1
while [ "$i" -le "$saves" ]; do
    if [ $(( i % 64 )) -eq 0 ] && [ "$(date +%s)" -ge "$deadline" ]; then break; fi
    saveText "$i"
    made=$i
    lastKept=no
    if ! save; then
        lost=$(( lost + 1 ))
        losses="$losses save $i could not be made;"
        i=$(( i + 1 ))
        continue
    fi
    seed=$(( (seed * 1103515245 + 12345) % 2147483648 ))
    pause=$(( seed / 65536 % 10 ))
    [ "$pause" -gt 0 ] && sleep "0.00$pause"
    lookFor "$i" "$rain" "$thunder" && lastKept=yes
    i=$(( i + 1 ))
done
# The next save follows a look at once; the last is looked at again 2 s later, when a step of the
# plug-in's (milliseconds long) that was under way has ended: a rewrite over it after its first look
# counts too. This look can only find a loss, never make one.
[ "$lastKept" = yes ] && sleep 2 && lookFor "$made" "$rain" "$thunder"
[ "$refused" -gt 0 ] && losses="$losses $refused tries of a save refused and made again;"
printf '%s %s%s\n' "$made" "$lost" "$losses" > "$report.partial" && mv -f "$report.partial" "$report"
