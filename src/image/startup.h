// Program entry: the command line, the choice and loading of the image, the
// hand-over of arguments to the Lisp world, exit and restart.
#pragma once

#include <cstddef>

#include "io/host.h"

// The image to load; kept across restarts, changed by the image built-ins
// before they ask for a restart.
extern char zv_image_name[ZV_PATH_SIZE];

// The top-level driver: returns 0 to exit, 1 to restart on zv_image_name.
// Installed by the driver's module; while it is null the kernel exits
// normally right after a successful load.
using DriverFn = int (*)(int first_time);
extern DriverFn zv_driver;

// Registers the services of the upper layers (reader, printer, format
// engine, streams, console, documentation store) in the hooks through
// which the evaluator and the collector reach them.  Program entry, the
// genesis and the unit-test world call it before anything is evaluated.
void zorva_register_hooks();

// The whole life of the process; returns its exit code: 0 after a normal
// exit, 1 after a bad image or a bad argument.
int zorva_main(int argc, char** argv);
