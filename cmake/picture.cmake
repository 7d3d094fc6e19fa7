# Takes one picture into photos/ of the source tree, for the build's
# `picture` target: with the camera program on the PATH where there is one,
# with the camera stand-in where there is none. Run as
#   cmake -DPICSERIES=<program> -DSTANDIN=<stand-in> -P cmake/picture.cmake
# in the source tree; prints where the picture went, and fails when
# picseries does.

# The programs in the order picseries looks for them, each in every PATH
# entry before the next, and only on the PATH.
find_program(camera NAMES libcamera-still rpicam-still NO_CACHE NO_DEFAULT_PATH
    PATHS ENV PATH)
if(camera)
    set(taken_by "${camera}")
else()
    cmake_path(GET STANDIN PARENT_PATH standin_dir)
    set(ENV{PATH} "${standin_dir}:$ENV{PATH}")
    file(RELATIVE_PATH standin "${CMAKE_CURRENT_SOURCE_DIR}" "${STANDIN}")
    set(taken_by "the stand-in ${standin} (no camera program on the PATH)")
endif()

file(MAKE_DIRECTORY photos)
file(GLOB before RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" photos/Pic_*)
execute_process(COMMAND "${PICSERIES}" photos image RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "picture: picseries exited with ${status}")
endif()
file(GLOB after RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}" photos/Pic_*)
list(REMOVE_ITEM after ${before})
message("picture: ${after}, taken by ${taken_by}")
