# cmake -DSOX=exe -DOUT=file.wav -DWORK=folder -P music.cmake
# The demo tune, about 36 s in A minor, timed to the running order: a calm
# intro (0 - 6.5 s), a hit at the flash (6.5 s), the hall at 120 beats a
# minute (8 - 20 s), the particles at 150 (20 - 28 s), a calm outro that
# fades out from 33 s to 35 s, then silence. Three mono parts (melody,
# bass, beat), each one sox run of note chains, merged and panned into
# stereo. sox runs with -R, so the bytes repeat.
if(NOT SOX OR NOT OUT OR NOT WORK)
    message(FATAL_ERROR "music.cmake needs SOX, OUT and WORK")
endif()
file(MAKE_DIRECTORY "${WORK}")

# Notes are semitones from A 440 ("%-24" is A 110); "-" is a rest.
# A part is a list of "KIND:SECONDS:NOTE" steps; KIND names the sound.
set(sound_pad "sine;%N;fade;q;0.15;%D;0.4;vol;0.5")
set(sound_lead "pluck;%N;fade;q;0.005;%D;0.08")
set(sound_bell "sine;%N;fade;h;0.01;%D;%D;vol;0.6")
set(sound_bass "triangle;%N;fade;q;0.01;%D;0.05;vol;0.8")
set(sound_sub "sine;%N;fade;q;0.02;%D;0.3")
set(sound_kick "sine;150:45;fade;q;0.002;%D;0.2")
set(sound_snare "whitenoise;vol;0.4;band;1800;1500;fade;q;0.001;%D;0.15")
set(sound_hat "whitenoise;vol;0.2;highpass;7000;fade;q;0.001;%D;0.18")
set(sound_crash "whitenoise;vol;0.5;highpass;3000;fade;q;0.001;%D;1.4")

set(melody "")
set(bass "")
set(beat "")
macro(steps part kind seconds)
    foreach(note ${ARGN})
        list(APPEND ${part} "${kind}:${seconds}:${note}")
    endforeach()
endmacro()

# Chords as bass roots: Am F C G.
set(roots -24 -28 -21 -26)

# Intro: one pad chord and two slow bell notes per chord, no beat.
foreach(root ${roots})
    steps(bass pad 1.625 ${root})
    steps(beat rest 1.625 -)
endforeach()
steps(melody bell 0.8125 -5 0 3 0 -4 0 -2 -5)

# The hit: a crash, a low A and a held high A over it.
steps(melody lead 1.5 0)
steps(bass sub 1.5 -36)
steps(beat crash 1.5 -)

# The hall: six bars of 2 s, eighth notes, kick and snare with hats between.
set(hallRoots -24 -28 -21 -26 -24 -28)
# Eight eighths a bar, one list for all six bars.
set(hallTunes 0 - 3 5 7 - 5 3   -4 - 0 3 5 3 0 -   3 - 7 10 7 5 3 -   -2 2 5 - 2 - -2 -5
              0 3 7 - 12 10 7 5   -4 0 3 0 -4 - -7 -)
foreach(bar RANGE 5)
    list(GET hallRoots ${bar} root)
    math(EXPR fifth "${root} + 7")
    steps(bass bass 0.25 ${root} ${root} ${fifth} ${root} ${root} ${root} ${fifth} ${root})
    math(EXPR first "${bar} * 8")
    list(SUBLIST hallTunes ${first} 8 tune)
    steps(melody lead 0.25 ${tune})
    steps(beat kick 0.25 -)
    steps(beat hat 0.25 -)
    steps(beat snare 0.25 -)
    steps(beat hat 0.25 -)
    steps(beat kick 0.25 -)
    steps(beat kick 0.25 -)
    steps(beat snare 0.25 -)
    steps(beat hat 0.25 -)
endforeach()

# The particles: five bars of 1.6 s, eighths at 150, arpeggios an octave up.
set(fastRoots -24 -28 -21 -26 -24)
foreach(root ${fastRoots})
    math(EXPR r "${root} + 24")
    math(EXPR third "${r} + 3")
    if(root EQUAL -28 OR root EQUAL -21)
        math(EXPR third "${r} + 4")
    endif()
    math(EXPR fifth "${r} + 7")
    math(EXPR octave "${r} + 12")
    math(EXPR bassFifth "${root} + 7")
    steps(melody lead 0.2 ${r} ${third} ${fifth} ${octave} ${fifth} ${third} ${r} ${fifth})
    steps(bass bass 0.2 ${root} ${root} ${bassFifth} ${root} ${root} ${bassFifth} ${root} ${bassFifth})
    steps(beat kick 0.2 -)
    steps(beat hat 0.2 -)
    steps(beat snare 0.2 -)
    steps(beat hat 0.2 -)
    steps(beat kick 0.2 -)
    steps(beat hat 0.2 -)
    steps(beat snare 0.2 -)
    steps(beat hat 0.2 -)
endforeach()

# The outro: pads and bells again, 7 s, then the fade and the silence.
steps(bass pad 2 -24 -28)
steps(bass pad 3 -24)
steps(melody bell 1 7 3 0 -2 -5 -4 0)
steps(beat rest 7 -)

# One sox run per part: its steps as chains separated by ":".
foreach(part melody bass beat)
    set(args "")
    foreach(step ${${part}})
        string(REPLACE ":" ";" fields "${step}")
        list(GET fields 0 kind)
        list(GET fields 1 seconds)
        list(GET fields 2 note)
        if(args)
            list(APPEND args ":")
        endif()
        # A rest, or a pitched sound without a note, is silence.
        if(kind STREQUAL "rest" OR (note STREQUAL "-" AND "${sound_${kind}}" MATCHES "%N"))
            list(APPEND args synth ${seconds} sine 440 vol 0)
            continue()
        endif()
        string(REPLACE "%N" "%${note}" chain "${sound_${kind}}")
        string(REPLACE "%D" "${seconds}" chain "${chain}")
        list(APPEND args synth ${seconds} ${chain})
    endforeach()
    execute_process(COMMAND "${SOX}" -R -n -r 44100 -c 1 -b 16 "${WORK}/${part}.wav" ${args}
                    RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "sox could not make the ${part}")
    endif()
endforeach()

# Melody a little left, beat a little right; the fade ends at 35 s and 1.5 s
# of silence follow; the peak goes to -3 dBFS, which puts the mix at about
# -16 dBFS RMS.
execute_process(COMMAND "${SOX}" -R -D -M "${WORK}/melody.wav" "${WORK}/bass.wav" "${WORK}/beat.wav"
                        -b 16 "${OUT}" remix 1v0.4,2v0.3,3v0.25 1v0.25,2v0.3,3v0.4
                        trim 0 35 fade q 0 35 2 pad 0 1.5 gain -n -3
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "sox could not mix the tune")
endif()
file(REMOVE "${WORK}/melody.wav" "${WORK}/bass.wav" "${WORK}/beat.wav")
