# quillon_use_test_music(target)
# Makes the sound test files at build time and tells target where they are
# (QUILLON_TEST_MUSIC, a folder). sox writes with -R and oggenc with a fixed
# serial, so the files are the same byte for byte on every build:
#   tune.ogg   20 s of tones, 44.1 kHz stereo, and tune.raw, its decode by oggdec
#   click.pcm  0.25 s of raw 44.1 kHz 16-bit stereo samples
#   mono.ogg, rate48.ogg  1 s tracks in formats the ring does not expect
function(quillon_use_test_music target)
    set(dir "${CMAKE_BINARY_DIR}/test_music")
    if(NOT TARGET quillon_test_music)
        find_program(SOX sox REQUIRED)
        find_program(OGGENC oggenc REQUIRED)
        find_program(OGGDEC oggdec REQUIRED)
        set(sox ${SOX} -R -n -b 16)
        set(enc ${OGGENC} -Q -s 1 -q 0)
        add_custom_command(OUTPUT "${dir}/tune.ogg" "${dir}/tune.raw"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
            COMMAND ${sox} -r 44100 -c 2 "${dir}/tune.wav" synth 20 sine 220 sine 330 vol 0.5
            COMMAND ${enc} -o "${dir}/tune.ogg" "${dir}/tune.wav"
            COMMAND ${OGGDEC} -Q -R -o "${dir}/tune.raw" "${dir}/tune.ogg"
            COMMAND ${CMAKE_COMMAND} -E remove "${dir}/tune.wav"
            COMMENT "Making the test music" VERBATIM)
        add_custom_command(OUTPUT "${dir}/click.pcm" "${dir}/mono.ogg" "${dir}/rate48.ogg"
            COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
            COMMAND ${sox} -r 44100 -c 2 -e signed-integer -t raw "${dir}/click.pcm" synth 0.25 sine 440
            COMMAND ${sox} -r 44100 -c 1 "${dir}/mono.wav" synth 1 sine 300
            COMMAND ${enc} -o "${dir}/mono.ogg" "${dir}/mono.wav"
            COMMAND ${sox} -r 48000 -c 2 "${dir}/rate48.wav" synth 1 sine 300 sine 450
            COMMAND ${enc} -o "${dir}/rate48.ogg" "${dir}/rate48.wav"
            COMMAND ${CMAKE_COMMAND} -E remove "${dir}/mono.wav" "${dir}/rate48.wav"
            COMMENT "Making the test sounds" VERBATIM)
        add_custom_target(quillon_test_music DEPENDS "${dir}/tune.ogg" "${dir}/tune.raw"
            "${dir}/click.pcm" "${dir}/mono.ogg" "${dir}/rate48.ogg")
    endif()
    add_dependencies(${target} quillon_test_music)
    target_compile_definitions(${target} PRIVATE "QUILLON_TEST_MUSIC=\"${dir}\"")
endfunction()
