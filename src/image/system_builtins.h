// The system commands' side of the top-level driver: a world that built-in
// 440 has read and checked waits here until the driver, back at its
// listener with nothing of the old world left on the stack, installs it.
#pragma once

#include <cstdint>

// The throw code that brings the driver back to install a staged world.
constexpr uint16_t TC_INSTALL_WORLD = 12;

// Install the staged world (the image name follows it); nothing when none
// is waiting.
void image_install_pending();
// Drop a staged world that a throw carried elsewhere.
void image_discard_pending();
bool image_has_pending();
