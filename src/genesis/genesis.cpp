// The genesis: builds the first image from nothing.
//
//   genesis <lisp directory> <image file>
//
// The kernel starts only from an image, so the build runs this to make the
// default one.  Any failure leaves no image behind and ends with code 1.
#include <cstdio>

#include "eval/thread.h"
#include "genesis/world.h"
#include "image/image_file.h"
#include "object/gc.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "genesis: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return fail("usage: genesis <lisp directory> <image file>");
  const char* library = argv[1];
  const char* image = argv[2];
  zvts = &zv_first_thread;
  gc_stress_init_from_env();
  if (!gen_build_world(image) || !gen_load_library(library)) return fail(gen_error());
  if (img_write_file(image) != 0) {
    std::remove(image);
    std::perror(image);
    return fail("cannot write the image");
  }
  return 0;
}
