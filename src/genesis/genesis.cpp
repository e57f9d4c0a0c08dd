// The genesis: builds the first image from nothing.
//
//   genesis <lisp directory> <image file> [<message texts>]
//
// The kernel starts only from an image, so the build runs this to make the
// default one.  Beside the image it writes the system documentation pair
// (ENGLISH.IND and ENGLISH.HLL): the message texts from number 40 up, read
// from the message file (by default doc/messages.txt next to the library
// directory, described in doc/README.md), and then the documentation
// strings of the library's definitions while the library loads.  Any
// failure leaves no image behind and ends with code 1.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "genesis/messages.h"
#include "genesis/world.h"
#include "image/image_file.h"
#include "io/docstore.h"
#include "object/gc.h"
#include "object/memory.h"
#include "object/thread.h"

namespace {

int fail(const char* what) {
  std::fprintf(stderr, "genesis: %s\n", what);
  return 1;
}

struct MessageText {
  unsigned number;
  std::string text;
};

// The message file: lines "NUMBER<TAB>TEXT"; blank lines and lines that
// start with '#' are skipped.  The text runs to the end of the line as it
// stands.
bool read_messages(const char* path, std::vector<MessageText>& out, std::string& why) {
  FILE* f = std::fopen(path, "rb");
  if (!f) {
    why = std::string(path) + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  bool seen[256] = {};
  unsigned lineno = 0;
  bool ok = true;
  for (int c = 0; ok && c != EOF;) {
    line.clear();
    while ((c = std::fgetc(f)) != EOF && c != '\n') line.push_back(char(c));
    lineno++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    size_t tab = line.find('\t');
    char* end = nullptr;
    unsigned long n = std::strtoul(line.c_str(), &end, 10);
    if (tab == std::string::npos || end != line.c_str() + tab || tab == 0) {
      why = "line " + std::to_string(lineno) + ": expected a number, a tab and the text";
      ok = false;
    } else if (n < MESSAGE_COUNT || n > 255) {
      why = "line " + std::to_string(lineno) + ": message numbers in this file run from " +
            std::to_string(MESSAGE_COUNT) + " to 255";
      ok = false;
    } else if (seen[n]) {
      why = "line " + std::to_string(lineno) + ": message " + std::to_string(n) + " twice";
      ok = false;
    } else {
      size_t from = line.find_first_not_of('\t', tab);
      seen[n] = true;
      out.push_back({unsigned(n), from == std::string::npos ? "" : line.substr(from)});
    }
  }
  std::fclose(f);
  if (ok && out.empty()) {
    why = std::string(path) + " holds no message";
    ok = false;
  }
  if (!ok) why = std::string(path) + ": " + why;
  return ok;
}

// The directory part of a path, with its separator; "" for none.
std::string directory_of(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash ? std::string(path, size_t(slash - path) + 1) : std::string();
}

bool write_messages(const std::vector<MessageText>& messages, std::string& why) {
  for (const MessageText& m : messages) {
    Value text = mem_make_string(m.text.data(), uint32_t(m.text.size()));
    if (nil_p(doc_store(NIL, make_fixnum(int32_t(m.number)), text))) {
      why = "cannot write message " + std::to_string(m.number) + " into the documentation files";
      return false;
    }
  }
  return true;
}

}  // namespace

constexpr uint32_t DEFAULT_IMAGE_STACK_N = 32767;

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4)
    return fail("usage: genesis <lisp directory> <image file> [<message texts>]");
  const char* library = argv[1];
  const char* image = argv[2];
  std::string messages_path = argc == 4 ? argv[3] : std::string(library) + "/../doc/messages.txt";
  zvts = &zv_first_thread;
  gc_stress_init_from_env();
  // The largest stack the 16-bit stack indices allow (a Lisp stack of
  // 65534 entries): deep recursion is ordinary in Lisp programs.
  if (!gen_build_world(image, DEFAULT_IMAGE_STACK_N)) return fail(gen_error());

  // The documentation pair lives beside the image, where the kernel that
  // loads it looks: in its own directory.
  std::string dir = directory_of(image);
  doc_set_system_dir(dir.c_str());
  doc_set_store_to_system(true);
  if (!doc_clear_system_pair()) return fail("cannot remove the old documentation files");
  std::vector<MessageText> messages;
  std::string why;
  if (!read_messages(messages_path.c_str(), messages, why)) {
    // Without the file named explicitly, a private library copy still
    // builds an image; its messages then print as missing.
    if (argc == 4) return fail(why.c_str());
    std::fprintf(stderr, "genesis: no message texts (%s)\n", why.c_str());
  } else if (!write_messages(messages, why)) {
    return fail(why.c_str());
  }

  if (!gen_load_library(library)) return fail(gen_error());
  if (img_write_file(image) != 0) {
    std::remove(image);
    std::perror(image);
    return fail("cannot write the image");
  }
  return 0;
}
