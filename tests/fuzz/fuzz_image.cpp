// The image loader: each input is offered as an image file.  A world the
// loader accepts is put in place, collected every way, and its memory
// report is printed through FORMAT as at start-up; nothing of it is
// evaluated.  The default image then comes back for the next input.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "eval/errors.h"
#include "image/driver.h"
#include "image/image_file.h"
#include "io/stream.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "tests/fuzz/harness.h"

namespace {

constexpr uint32_t kMsgMemory = 40;  // the start-up memory report, seven arguments

// The input as a file: a memory file, so that the loader sees a real
// file and its size.
FILE* as_file(const uint8_t* data, size_t size) {
  int fd = memfd_create("image", 0);
  if (fd < 0) return nullptr;
  FILE* f = fdopen(fd, "w+b");
  if (!f) {
    close(fd);
    return nullptr;
  }
  if (size && std::fwrite(data, 1, size, f) != size) {
    std::fclose(f);
    return nullptr;
  }
  std::rewind(f);
  return f;
}

void report_memory(void*) {
  Value args[7] = {make_fixnum(int32_t(hdr_u32(HDR_STACK_N))), make_fixnum(3), NIL, T, NIL, NIL,
                   T};
  for (int i = 2; i <= 5; i++) root_push(&args[i]);
  args[2] = mem_make_integer(int64_t(zvm.free_count));
  args[4] = mem_make_integer(int64_t(zvm.sym_cap - zvm.sym_count));
  args[5] = mem_make_integer(int64_t(zvm.heap_limit - zvm.heap_fill));
  Value text = message_text(kMsgMemory);
  root_push(&text);
  Value out = make_string_output_stream();
  root_push(&out);
  emit_formatted(out, text, 7, args);
  root_pop(6);
}

void collect_every_way(void*) {
  gc_cons_collection();
  gc_heap_collection(0);
  gc_symbol_collection(0);
  gc_full_collection();
}

// The heap of the accepted world may have shrunk below what the default
// world needs: a heap collection asked for that much room grows it.
uint32_t heap_wanted = 0;
void grow_heap(void*) { gc_heap_collection(heap_wanted); }

void install_default() {
  StagedImage* st = nullptr;
  for (int attempt = 0;; attempt++) {
    FILE* f = std::fopen(fuzz_image_path(), "rb");
    if (!f || img_stage(f, &st) != IMG_OK) fuzz_fail("the default image does not load again");
    std::fclose(f);
    if (img_staged_fits(st)) break;
    uint32_t heap, cells, symbols;
    img_staged_needs(st, &heap, &cells, &symbols);
    img_discard(st);
    if (attempt > 0 || cells > zvm.cons_cap || symbols > zvm.sym_cap)
      fuzz_fail("the default image does not fit the areas again");
    heap_wanted = heap + 64;
    fuzz_guarded(grow_heap, nullptr);
  }
  img_install(st);
  fuzz_settle_world();
}

void load_input(const uint8_t* data, size_t size) {
  FILE* f = as_file(data, size);
  if (!f) fuzz_fail("no memory file");
  StagedImage* st = nullptr;
  int r = img_stage(f, &st);
  std::fclose(f);
  if (r != IMG_OK) return;
  if (!img_staged_fits(st)) {
    img_discard(st);
    return;
  }
  img_install(st);
  fuzz_answer_breaks(false);
  driver_setup_world();
  fuzz_guarded(collect_every_way, nullptr);
  fuzz_guarded(report_memory, nullptr);
  fuzz_answer_breaks(true);
  install_default();
}

}  // namespace

int main(int argc, char** argv) { return fuzz_main(argc, argv, load_input); }
