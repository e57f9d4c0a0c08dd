// Program entry: the command line, the choice and loading of the image, the
// hand-over of arguments to the Lisp world, exit and restart.
#pragma once

#include <cstddef>

// Process-wide path buffers: at most 259 characters and a terminating zero.
// Directories end in the separator.  This host has no drives, so the drive
// buffers stay empty; they are kept so names are built the same way
// everywhere (drive + directory + file).
constexpr size_t ZV_PATH_SIZE = 260;
extern char zv_program_path[ZV_PATH_SIZE];
extern char zv_current_drive[ZV_PATH_SIZE];
extern char zv_current_dir[ZV_PATH_SIZE];
extern char zv_program_drive[ZV_PATH_SIZE];
extern char zv_program_dir[ZV_PATH_SIZE];
extern char zv_program_name[ZV_PATH_SIZE];
// The image to load; kept across restarts, changed by the image built-ins
// before they ask for a restart.
extern char zv_image_name[ZV_PATH_SIZE];

// The top-level driver: returns 0 to exit, 1 to restart on zv_image_name.
// Installed by the driver's module; while it is null the kernel exits
// normally right after a successful load.
using DriverFn = int (*)(int first_time);
extern DriverFn zv_driver;

// The whole life of the process; returns its exit code: 0 after a normal
// exit, 1 after a bad image or a bad argument.
int zorva_main(int argc, char** argv);
