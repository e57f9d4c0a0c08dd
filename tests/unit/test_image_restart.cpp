// Loading an image too large for the running world: the kernel restarts on
// it.  Driven through program entry with the default image beside this
// executable and a stand-in for the top-level driver, since a continuable
// error cannot be continued from a script.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "eval/eval.h"
#include "image/driver.h"
#include "image/image_file.h"
#include "image/startup.h"
#include "io/host.h"
#include "object/error_hook.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "text/strings.h"

namespace {

std::string big_image;
int driver_calls = 0;
uint32_t signalled = 0;
uint32_t big_length = 0;
std::jmp_buf on_error;

Value record_error(uint32_t code, const Value*) {
  signalled = code;
  std::longjmp(on_error, 1);
}
void record_cerror(uint32_t code, const Value*) { signalled = code; }

uint32_t symbol_named(const char* name) {
  SymSearch s = sym_search(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
  return s.found ? s.index : 0;
}

// First run: load the large image, continuing its error as the user would;
// with no top level to throw to, the built-in returns and the driver asks
// for the restart itself.  Second run: the world is the large one.
int stand_in_driver(int) {
  if (driver_calls++ == 0) {
    zv_error_fn = record_error;
    zv_cerror_fn = record_cerror;
    if (setjmp(on_error) == 0) {
      Value name = str_from_cstr(big_image.c_str());
      call_function1(make_symbol(symbol_named("%LOAD-IMAGE")), name);
    }
    return 1;
  }
  uint32_t s = symbol_named("ZV-TEST-BIG");
  if (s) big_length = heap_length(sym_value(s));
  return 0;
}

// The whole life of a kernel: it runs in a child process, so what program
// entry leaves behind (the console, the freed world) stays there.
void restart_on_a_large_image(const std::string& image) {
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/" : testing::TempDir();
  big_image = dir + "zorva_big_" + std::to_string(getpid()) + ".ROL";

  // The kernel's banner and reports are not the test's output.
  if (!std::freopen("/dev/null", "w", stdout)) std::_Exit(4);

  // A world whose heap outgrew the default image's.
  window_init();
  mem_free_areas(false, true);
  if (img_load(image.c_str(), 1) != IMG_OK) std::_Exit(2);
  uint32_t heap_capacity = hdr_u32(HDR_HEAP_CAP);
  Value big = mem_alloc_vector(heap_capacity / 2);
  for (uint32_t i = 0; i < heap_length(big); i++) heap_set_word(big, i, NIL);
  root_push(&big);
  uint32_t s = symbol_index(sym_intern_cstr("ZV-TEST-BIG"));
  sym_set_value(s, big);
  root_pop();
  if (img_write_file(big_image.c_str()) != 0) std::_Exit(3);

  zv_driver = stand_in_driver;
  char* argv[] = {const_cast<char*>("zorva"), const_cast<char*>("-ROL"),
                  const_cast<char*>(image.c_str()), nullptr};
  int rc = zorva_main(3, argv);
  std::remove(big_image.c_str());
  std::fprintf(stderr, "exit %d, error %u, driver runs %d, vector %u of %u\n", rc, signalled,
               driver_calls, big_length, heap_capacity / 2);
  std::fflush(stderr);
  std::_Exit(rc == 0 && signalled == 0x4048 && driver_calls == 2 && big_length == heap_capacity / 2
                 ? 0
                 : 1);
}

}  // namespace

TEST(ImageRestart, ImageTooLargeForTheWorldRestartsTheKernelOnIt) {
  char exe[1024];
  ASSERT_TRUE(host_program_path(exe, sizeof exe));
  std::string image = exe;
  image = image.substr(0, image.rfind('/') + 1) + "zorva.ROL";
  if (access(image.c_str(), R_OK) != 0) GTEST_SKIP() << "no default image beside " << exe;
  // 16456 is the error that the image does not fit; the driver runs once
  // on each world.
  EXPECT_EXIT(restart_on_a_large_image(image), testing::ExitedWithCode(0),
              "exit 0, error 16456, driver runs 2");
}
