// The documentation store: %DOC-LOOKUP, %DOC-PACK, %DOC-STORE and
// %DOC-UNPACK, and the message texts from 40 up.
//
// Index file: a header of three 16-bit counts (records written, records
// deleted, records superseded), then the records one after another: the
// offset of the text in the text file (-1 once deleted), the lengths of the
// two keys (16 bits each) and the key bytes.  A key is empty for NIL; four
// bytes for a fixnum or a character (the tag byte, then the low 24 bits,
// low byte first); for a symbol the same four bytes followed by its name.
// Symbols are matched by tag and name, not by index: the collector
// renumbers symbols and every image numbers them its own way, while the
// files outlive both.
//
// Every operation works in two steps.  The file work runs under the store's
// lock in plain C++ that neither allocates Lisp objects nor signals; it
// leaves its results in the thread's scratch record.  The Lisp side around
// it encodes the keys, signals the errors and builds the result, so a
// throw never passes a frame that owns a file or a buffer.
#include "io/docstore.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "builtins/table.h"
#include "eval/errors.h"
#include "eval/eval.h"
#include "io/host.h"
#include "object/memory.h"
#include "object/symbols.h"
#include "object/thread.h"
#include "text/strings.h"

namespace {

constexpr uint32_t E_BAD_KEY = 0x1032;    // 4146: a key of another type
constexpr uint32_t E_TOO_LARGE = 0x144B;  // 5195: the unpacked text
constexpr uint32_t E_IO = 0x201F;         // 8223: file name, error text
constexpr uint32_t MSG_RETRY = 32;        // its continuation

constexpr uint8_t PACK_BLANKS = 9;    // blank run: count of blanks
constexpr uint8_t PACK_NEWLINE = 11;  // line feed and blanks: count of both
constexpr unsigned PACK_MAX = 255;
constexpr size_t HEADER = 6;
constexpr size_t RECORD_FIXED = 8;
constexpr uint32_t MAX_RECORDS = 0xFFFF;
constexpr uint32_t COMPACT_FLOOR = 256;

constexpr size_t PATH_CAP = ZV_PATH_SIZE;

// ---------------------------------------------------------------------------
// Settings

char system_dir[PATH_CAP];
char user_dir[PATH_CAP];
bool system_dir_set = false;
bool user_dir_set = false;
bool store_to_system = false;

// One lock for all file work: threads share the files.
std::mutex store_lock;

// Set a directory, adding the separator a non-empty one lacks.
void set_dir(char* buf, bool* flag, const char* dir) {
  *flag = dir != nullptr;
  buf[0] = 0;
  if (!dir) return;
  size_t n = std::strlen(dir);
  if (n + 2 > PATH_CAP) {
    *flag = false;
    return;
  }
  std::memcpy(buf, dir, n + 1);
  if (n && buf[n - 1] != '/' && buf[n - 1] != '\\') {
    buf[n] = '/';
    buf[n + 1] = 0;
  }
}

// Start-up has run once the program's own path is known.
bool started() { return zv_program_path[0] != 0; }

// Read without the global lock while other threads may intern.
bool symbol_exists(uint32_t i) {
  return zvm.symtab && i < sym_count_now();
}

bool russian() {
  if (!symbol_exists(FS_FEATURES)) return false;
  for (Value l = sym_value(FS_FEATURES); cons_p(l); l = cdr(l)) {
    Value f = car(l);
    if (!nil_p(f) && tag_of(f) >= TAG_SYMBOL && tag_of(f) <= TAG_LEXREF &&
        (f & 0xFFFFFF) == FS_RUSSIAN)
      return true;
  }
  return false;
}

// The file names of one pair, resolved without regard to case.
struct Pair {
  char dir[PATH_CAP];
  char ind[PATH_CAP];
  char hll[PATH_CAP];
};

// dir + base + "." + type, resolved; *found says whether the file exists.
bool join(char* out, const char* dir, const char* base, const char* type, bool* found = nullptr) {
  char name[PATH_CAP];
  int n = std::snprintf(name, sizeof name, "%s%s.%s", dir, base, type);
  if (n < 0 || size_t(n) >= sizeof name) return false;
  bool there = host_resolve_path(name, out, PATH_CAP);
  if (found) *found = there;
  return out[0] != 0;
}

bool concat(char* out, const char* a, const char* b) {
  size_t n = std::strlen(a), m = std::strlen(b);
  if (n + m >= PATH_CAP) return false;
  std::memcpy(out, a, n);
  std::memcpy(out + n, b, m + 1);
  return true;
}

bool pair_names(bool system, Pair* p) {
  const char* dir;
  char dflt[PATH_CAP];
  if (system) {
    if (system_dir_set) {
      dir = system_dir;
    } else {
      if (!started() || !concat(dflt, zv_program_drive, zv_program_dir)) return false;
      dir = dflt;
    }
  } else {
    if (user_dir_set) {
      dir = user_dir;
    } else {
      if (!started() || !concat(dflt, zv_current_drive, zv_current_dir)) return false;
      dir = dflt;
    }
  }
  if (!concat(p->dir, dir, "")) return false;
  const char* base = system ? "ENGLISH" : "ZORVADOC";
  // A system without the RUSSIAN pair keeps its English texts rather than
  // lose every message.
  bool found = false;
  if (system && russian() && join(p->ind, dir, "RUSSIAN", "IND", &found) && found) base = "RUSSIAN";
  return join(p->ind, dir, base, "IND") && join(p->hll, dir, base, "HLL");
}

// ---------------------------------------------------------------------------
// Packing

inline bool special_count(unsigned k) { return k == 26 || k == 34 || k == 92; }

// The count for a run of n (at least 3): at most 255, never a special byte;
// what it leaves over is handled as the text that follows.
inline unsigned run_count(size_t n) {
  unsigned k = n > PACK_MAX ? PACK_MAX : unsigned(n);
  return special_count(k) ? k - 1 : k;
}

size_t unpacked_length(const uint8_t* p, size_t n) {
  size_t len = 0;
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if ((c == PACK_BLANKS || c == PACK_NEWLINE) && i + 1 < n) {
      unsigned k = p[++i];
      if (k <= 1)
        len += 1;  // the tab or vertical tab itself (0: a stray mark)
      else
        len += k;
    } else {
      len++;
    }
  }
  return len;
}

void unpack_into(const uint8_t* p, size_t n, uint8_t* out) {
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if ((c == PACK_BLANKS || c == PACK_NEWLINE) && i + 1 < n) {
      unsigned k = p[++i];
      if (k <= 1) {
        *out++ = c;
      } else if (c == PACK_BLANKS) {
        std::memset(out, ' ', k);
        out += k;
      } else {
        *out++ = '\n';
        std::memset(out, ' ', k - 1);
        out += k - 1;
      }
    } else {
      *out++ = c;
    }
  }
}

bool has_packed(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i++)
    if (p[i] == PACK_BLANKS || p[i] == PACK_NEWLINE) return true;
  return false;
}

// ---------------------------------------------------------------------------
// Keys

inline bool symbol_tag(uint8_t t) { return t >= TAG_SYMBOL && t <= TAG_LEXREF; }

// The key of v into out; false for a Value that cannot be a key.
bool encode_key(Value v, std::string& out) {
  out.clear();
  if (nil_p(v)) return true;
  uint32_t t = tag_of(v);
  if (t != TAG_FIXNUM && t != TAG_CHAR && !symbol_tag(uint8_t(t))) return false;
  // Cached references and marks stand for the plain symbol.
  if (symbol_tag(uint8_t(t)) && t != TAG_KEYWORD) t = TAG_SYMBOL;
  char head[4] = {char(t), char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF)};
  out.append(head, 4);
  if (t == TAG_FIXNUM || t == TAG_CHAR) return true;
  Value name = sym_name(v & 0xFFFF);
  if (!is_string_raw(name)) return true;
  out.append(reinterpret_cast<const char*>(string_bytes(name)), string_length(name));
  return true;
}

bool key_matches(const uint8_t* k, size_t n, const std::string& key) {
  if (n != key.size()) return false;
  if (n == 0) return true;
  if (k[0] != uint8_t(key[0])) return false;
  // Symbols by tag and name; numbers and characters by all four bytes.
  size_t from = symbol_tag(k[0]) ? 4 : 1;
  return std::memcmp(k + from, key.data() + from, n - from) == 0;
}

// ---------------------------------------------------------------------------
// Index files in memory

inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline void put16(uint8_t* p, uint32_t x) {
  p[0] = uint8_t(x);
  p[1] = uint8_t(x >> 8);
}
inline int32_t get32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                 (uint32_t(p[3]) << 24));
}
inline void put32(uint8_t* p, int32_t x) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(uint32_t(x) >> (8 * i));
}

struct Record {
  size_t at;  // position in the index file
  int32_t offset;
  const uint8_t* key1;
  size_t len1;
  const uint8_t* key2;
  size_t len2;
};

struct Index {
  std::vector<uint8_t> bytes;
  uint32_t written = 0, deleted = 0, superseded = 0;
  std::vector<Record> records;
  size_t end = HEADER;  // just after the last whole record
};

bool read_all(FILE* f, std::vector<uint8_t>& out) {
  out.clear();
  if (std::fseek(f, 0, SEEK_SET) != 0) return false;
  uint8_t buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  return !std::ferror(f);
}

// Parse the records the header counts, as far as the file holds them
// whole; a damaged tail is left out rather than read as records.
void parse_index(Index& ix) {
  ix.records.clear();
  ix.end = HEADER;
  ix.written = ix.deleted = ix.superseded = 0;
  const std::vector<uint8_t>& b = ix.bytes;
  if (b.size() < HEADER) return;
  ix.written = get16(&b[0]);
  ix.deleted = get16(&b[2]);
  ix.superseded = get16(&b[4]);
  size_t at = HEADER;
  for (uint32_t i = 0; i < ix.written; i++) {
    if (at + RECORD_FIXED > b.size()) break;
    size_t l1 = get16(&b[at + 4]), l2 = get16(&b[at + 6]);
    if (at + RECORD_FIXED + l1 + l2 > b.size()) break;
    Record r{at, get32(&b[at]), &b[at + 8], l1, &b[at + 8 + l1], l2};
    ix.records.push_back(r);
    at += RECORD_FIXED + l1 + l2;
  }
  ix.written = uint32_t(ix.records.size());
  ix.end = at;
}

// ---------------------------------------------------------------------------
// Text files

// The printed string at offset: its bytes between the quotes, escapes
// undone (a backslash takes the next character; backslash and 0 is the
// character 0, as the reader has it).  With raw, the printed form as it
// stands in the file, quotes included.
bool read_text_at(FILE* f, int32_t offset, std::string& out, bool raw) {
  out.clear();
  if (offset < 0 || std::fseek(f, offset, SEEK_SET) != 0) return false;
  int c;
  do c = std::getc(f);
  while (c == ' ' || c == '\n' || c == '\r');
  if (c != '"') return false;
  if (raw) out.push_back('"');
  for (;;) {
    c = std::getc(f);
    if (c == EOF) return false;
    if (c == '"') break;
    if (c == '\\') {
      int d = std::getc(f);
      if (d == EOF) return false;
      if (raw) {
        out.push_back('\\');
        out.push_back(char(d));
      } else {
        out.push_back(d == '0' ? '\0' : char(d));
      }
      continue;
    }
    out.push_back(char(c));
  }
  if (raw) out.push_back('"');
  return true;
}

// Append the packed text as a printed string; its offset into *offset.
bool append_text(FILE* f, const std::string& packed, int32_t* offset) {
  if (std::fseek(f, 0, SEEK_END) != 0) return false;
  long at = std::ftell(f);
  if (at < 0 || at > 0x7FFFFFFFL - long(2 * packed.size() + 3)) return false;
  *offset = int32_t(at);
  std::string out;
  out.reserve(packed.size() + 8);
  out.push_back('"');
  for (char c : packed) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out += "\"\n";
  return std::fwrite(out.data(), 1, out.size(), f) == out.size();
}

// ---------------------------------------------------------------------------
// The file work: plain C++ under the lock, results in the thread's scratch.

struct Found {
  std::string key2;
  std::string text;
};

struct Scratch {
  std::string key1, key2;
  std::string text;  // packed text to store
  std::vector<Found> found;
  Index index;
  std::string buf;
};
thread_local Scratch scratch;

// Open; 0 on success, else the errno (ENOENT when the file is missing).
int open_file(const char* path, const char* mode, FILE** f) {
  errno = 0;
  *f = std::fopen(path, mode);
  if (*f) return 0;
  return errno ? errno : EIO;
}

// A file that is missing, or whose directory is, ends the attempt quietly;
// other failures are worth a retry.
inline bool missing(int e) { return e == ENOENT || e == ENOTDIR; }

enum : int { DONE = 0, FAILED = -1 };

// Collect the texts under key1 (and key2 unless all) of one pair into
// scratch.found.  With all, second keys already found (in a pair searched
// earlier) are passed over.  Returns DONE, or the errno of a failed open.
int lookup_pair(const Pair& p, bool all, size_t known) {
  Scratch& s = scratch;
  FILE* ind;
  int e = open_file(p.ind, "rb", &ind);
  if (e) return missing(e) ? DONE : e;
  FILE* hll;
  e = open_file(p.hll, "rb", &hll);
  if (e) {
    std::fclose(ind);
    return missing(e) ? DONE : e;
  }
  Index& ix = s.index;
  if (read_all(ind, ix.bytes)) {
    parse_index(ix);
    for (const Record& r : ix.records) {
      if (r.offset < 0 || !key_matches(r.key1, r.len1, s.key1)) continue;
      if (!all && !key_matches(r.key2, r.len2, s.key2)) continue;
      if (all) {
        bool seen = false;
        for (size_t i = 0; i < known && !seen; i++) {
          const std::string& k = s.found[i].key2;
          seen = key_matches(reinterpret_cast<const uint8_t*>(k.data()), k.size(),
                             std::string(reinterpret_cast<const char*>(r.key2), r.len2));
        }
        if (seen) continue;
      }
      if (!read_text_at(hll, r.offset, s.buf, false)) continue;
      Found f;
      f.key2.assign(reinterpret_cast<const char*>(r.key2), r.len2);
      f.text = doc_unpack_bytes(reinterpret_cast<const uint8_t*>(s.buf.data()), s.buf.size());
      s.found.push_back(std::move(f));
      if (!all) break;
    }
  }
  std::fclose(hll);
  std::fclose(ind);
  return DONE;
}

bool write_at(FILE* f, size_t at, const uint8_t* p, size_t n) {
  return std::fseek(f, long(at), SEEK_SET) == 0 && std::fwrite(p, 1, n, f) == n;
}

inline uint32_t saturate(uint32_t x) { return x > 0xFFFF ? 0xFFFF : x; }

// Copy the live records and their texts to "$ZVTMP$" files beside the pair,
// which then take the old files' places.  A failure leaves the pair as it
// was.
bool compact_pair(const Pair& p) {
  Scratch& s = scratch;
  char tind[PATH_CAP], thll[PATH_CAP];
  if (!join(tind, p.dir, "$ZVTMP$", "IND") || !join(thll, p.dir, "$ZVTMP$", "HLL")) return false;
  FILE *ind = nullptr, *hll = nullptr, *oi = nullptr, *oh = nullptr;
  bool ok = open_file(p.ind, "rb", &ind) == 0 && open_file(p.hll, "rb", &hll) == 0 &&
            open_file(tind, "wb", &oi) == 0 && open_file(thll, "wb", &oh) == 0;
  Index& ix = s.index;
  ok = ok && read_all(ind, ix.bytes);
  if (ok) {
    parse_index(ix);
    std::vector<uint8_t> out(HEADER, 0);
    uint32_t live = 0;
    for (const Record& r : ix.records) {
      if (r.offset < 0) continue;
      if (!read_text_at(hll, r.offset, s.buf, true)) continue;  // unreadable: dropped
      long at = std::ftell(oh);
      s.buf.push_back('\n');
      if (at < 0 || std::fwrite(s.buf.data(), 1, s.buf.size(), oh) != s.buf.size()) {
        ok = false;
        break;
      }
      size_t k = out.size();
      out.resize(k + RECORD_FIXED + r.len1 + r.len2);
      put32(&out[k], int32_t(at));
      put16(&out[k + 4], uint32_t(r.len1));
      put16(&out[k + 6], uint32_t(r.len2));
      std::memcpy(&out[k + 8], r.key1, r.len1);
      std::memcpy(&out[k + 8 + r.len1], r.key2, r.len2);
      live++;
    }
    put16(&out[0], live);
    ok = ok && std::fwrite(out.data(), 1, out.size(), oi) == out.size();
  }
  if (ind) std::fclose(ind);
  if (hll) std::fclose(hll);
  if (oi && std::fclose(oi) != 0) ok = false;
  if (oh && std::fclose(oh) != 0) ok = false;
  // The text file first: an index that names old offsets in a new text
  // file would be worse than the reverse, and both renames stay within
  // one directory.
  ok = ok && std::rename(thll, p.hll) == 0 && std::rename(tind, p.ind) == 0;
  if (!ok) {
    std::remove(tind);
    std::remove(thll);
  }
  return ok;
}

// Store scratch.text (or delete, when !has_text) under scratch.key1/key2 in
// the pair.  DONE, FAILED, or the errno of a failed open.
int store_pair(const Pair& p, bool has_text) {
  Scratch& s = scratch;
  FILE* ind;
  int e = open_file(p.ind, "r+b", &ind);
  if (e == ENOENT) {
    if (!has_text) return DONE;  // nothing to delete
    e = open_file(p.ind, "w+b", &ind);
  }
  if (e) return missing(e) ? FAILED : e;
  FILE* hll;
  e = open_file(p.hll, "ab", &hll);
  if (e) {
    std::fclose(ind);
    return missing(e) ? FAILED : e;
  }
  Index& ix = s.index;
  bool ok = read_all(ind, ix.bytes);
  if (ok) parse_index(ix);
  const Record* hit = nullptr;
  if (ok) {
    for (const Record& r : ix.records) {
      if (r.offset < 0 || !key_matches(r.key1, r.len1, s.key1)) continue;
      if (!s.key2.empty() && !key_matches(r.key2, r.len2, s.key2)) continue;
      hit = &r;
      break;
    }
  }
  bool changed = false;
  if (ok && hit) {
    uint8_t off[4];
    int32_t at = -1;
    if (has_text) ok = append_text(hll, s.text, &at);
    put32(off, at);
    ok = ok && write_at(ind, hit->at, off, 4);
    if (has_text)
      ix.superseded = saturate(ix.superseded + 1);
    else
      ix.deleted = saturate(ix.deleted + 1);
    changed = ok;
  } else if (ok && has_text) {
    ok = ix.written < MAX_RECORDS && s.key1.size() <= 0xFFFF && s.key2.size() <= 0xFFFF;
    int32_t at = -1;
    ok = ok && append_text(hll, s.text, &at);
    if (ok) {
      std::vector<uint8_t> rec(RECORD_FIXED + s.key1.size() + s.key2.size());
      put32(&rec[0], at);
      put16(&rec[4], uint32_t(s.key1.size()));
      put16(&rec[6], uint32_t(s.key2.size()));
      std::memcpy(&rec[8], s.key1.data(), s.key1.size());
      std::memcpy(&rec[8 + s.key1.size()], s.key2.data(), s.key2.size());
      ok = write_at(ind, ix.end, rec.data(), rec.size());
      ix.written++;
      changed = ok;
    }
  }
  if (changed || ix.bytes.size() < HEADER) {
    uint8_t h[HEADER];
    put16(h, ix.written);
    put16(h + 2, ix.deleted);
    put16(h + 4, ix.superseded);
    ok = write_at(ind, 0, h, HEADER) && ok;
  }
  if (std::fclose(hll) != 0) ok = false;
  if (std::fclose(ind) != 0) ok = false;
  uint32_t limit = ix.written > COMPACT_FLOOR ? ix.written : COMPACT_FLOOR;
  if (ok && ix.deleted + ix.superseded > limit) compact_pair(p);
  return ok ? DONE : FAILED;
}

// The message texts, read once per version of the system pair: every error
// of a message from 40 up fetches its text, and programs that catch errors
// in a loop should not pay a file search for each.
struct FileId {
  dev_t dev;
  ino_t ino;
  off_t size;
  time_t sec;
  long nsec;
  bool operator==(const FileId&) const = default;
};

bool file_id(const char* path, FileId* id) {
  struct stat st;
  if (stat(path, &st) != 0) return false;
  *id = FileId{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  return true;
}

struct MessageCache {
  Pair pair;  // pair.ind empty: nothing cached
  bool russian;
  long long checked_ms;  // when the files were last seen unchanged
  FileId index_id, text_id;
  bool known[256];
  bool present[256];
  std::string text[256];
};
MessageCache message_cache;  // under store_lock

void forget_messages() {
  message_cache.pair.ind[0] = 0;
  for (bool& k : message_cache.known) k = false;
}

// Message n of the system pair into scratch.buf; false when it has none.
// While both files are unchanged, the names found before serve again.
bool cached_message(uint32_t n) {
  MessageCache& c = message_cache;
  bool ru = russian();
  FileId a, b;
  // The files are looked at again after a quarter of a second: the system
  // pair changes only when the system is rebuilt.
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  long long ms = (long long)now.tv_sec * 1000 + now.tv_nsec / 1000000;
  bool fresh = c.pair.ind[0] && c.russian == ru;
  if (fresh && ms - c.checked_ms >= 250)
    fresh = file_id(c.pair.ind, &a) && file_id(c.pair.hll, &b) && a == c.index_id && b == c.text_id;
  if (!fresh) {
    forget_messages();
    Pair p;
    if (!pair_names(true, &p) || !file_id(p.ind, &a) || !file_id(p.hll, &b)) return false;
    c.pair = p;
    c.russian = ru;
    c.index_id = a;
    c.text_id = b;
  }
  if (!fresh || ms - c.checked_ms >= 250) c.checked_ms = ms;
  if (!c.known[n]) {
    Scratch& s = scratch;
    encode_key(NIL, s.key1);
    encode_key(make_fixnum(int32_t(n)), s.key2);
    s.found.clear();
    lookup_pair(c.pair, false, 0);
    c.present[n] = !s.found.empty();
    c.text[n] = c.present[n] ? s.found[0].text : std::string();
    c.known[n] = true;
  }
  if (c.present[n]) scratch.buf = c.text[n];
  return c.present[n];
}

// ---------------------------------------------------------------------------
// The Lisp side

// The continuable I/O error for a file; returns when the user continues.
void io_error(const char* path, int e) {
  Value name = str_from_cstr(path);
  root_push(&name);
  Value text = str_from_cstr(std::strerror(e));
  root_pop();
  Value objs[2] = {name, text};
  lisp_cerror(MSG_RETRY, E_IO, objs);
}

// The pairs a lookup searches, in order; returns how many.
int lookup_pairs(bool key1_nil, Pair* pairs) {
  int n = 0;
  if (!key1_nil && !store_to_system && pair_names(false, &pairs[n])) n++;
  if (pair_names(true, &pairs[n])) n++;
  return n;
}

// Decode a second key back into a Value: numbers and characters from their
// bytes, symbols by name.
Value decode_key(const std::string& k) {
  if (k.size() < 4) return NIL;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(k.data());
  uint32_t low = uint32_t(p[1]) | (uint32_t(p[2]) << 8) | (uint32_t(p[3]) << 16);
  if (p[0] == TAG_FIXNUM || p[0] == TAG_CHAR) return (uint32_t(p[0]) << 24) | low;
  if (!symbol_tag(p[0])) return NIL;
  return sym_intern(p + 4, uint32_t(k.size() - 4), p[0] == TAG_KEYWORD ? TAG_KEYWORD : TAG_SYMBOL);
}

Value lookup(Value key1, Value key2, bool quiet) {
  root_push(&key1);
  root_push(&key2);
  Scratch& s = scratch;
  Value result = NIL;
  for (;;) {
    // Encoded afresh after every retry: the break loop of an I/O error may
    // have run another lookup on this thread.
    if (!encode_key(key1, s.key1) || !encode_key(key2, s.key2)) {
      if (!quiet) lisp_error(E_BAD_KEY, encode_key(key1, s.key1) ? key2 : key1);
      root_pop(2);
      return NIL;
    }
    bool all = nil_p(key2);
    Pair pairs[2];
    int n = lookup_pairs(nil_p(key1), pairs);
    s.found.clear();
    int failed = 0, e = DONE;
    for (int i = 0; i < n; i++) {
      {
        std::lock_guard<std::mutex> hold(store_lock);
        e = lookup_pair(pairs[i], all, s.found.size());
      }
      if (e != DONE) {
        failed = i;
        break;
      }
      if (!all && !s.found.empty()) break;
    }
    if (e == DONE || quiet) break;
    io_error(pairs[failed].ind, e);
  }
  if (nil_p(key2)) {
    Value text = NIL, key = NIL;
    root_push(&result);
    root_push(&text);
    root_push(&key);
    for (size_t i = s.found.size(); i-- > 0;) {
      const Found& f = s.found[i];
      text =
          str_from_bytes(reinterpret_cast<const uint8_t*>(f.text.data()), uint32_t(f.text.size()));
      key = decode_key(s.found[i].key2);
      Value pair = cons(key, text);
      result = cons(pair, result);
    }
    root_pop(3);
  } else if (!s.found.empty()) {
    const std::string& t = s.found[0].text;
    result = str_from_bytes(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()));
  }
  root_pop(2);
  return result;
}

Value store(Value key1, Value key2, Value text, bool quiet) {
  if (!nil_p(text) && !is_string(text)) {
    if (!quiet) lisp_error(E_WRONG_TYPE, text);
    return NIL;
  }
  root_push(&key1);
  root_push(&key2);
  root_push(&text);
  Scratch& s = scratch;
  int r;
  for (;;) {
    if (!encode_key(key1, s.key1) || !encode_key(key2, s.key2)) {
      if (!quiet) lisp_error(E_BAD_KEY, encode_key(key1, s.key1) ? key2 : key1);
      root_pop(3);
      return NIL;
    }
    bool has_text = !nil_p(text);
    if (has_text) s.text = doc_pack_bytes(string_bytes(text), string_length(text));
    Pair p;
    if (!pair_names(store_to_system, &p)) {
      r = FAILED;
      break;
    }
    {
      std::lock_guard<std::mutex> hold(store_lock);
      r = store_pair(p, has_text);
      if (store_to_system) forget_messages();
    }
    if (r <= 0 || quiet) break;
    io_error(p.ind, r);
  }
  root_pop(3);
  return r == DONE ? text : NIL;
}

}  // namespace

// ---------------------------------------------------------------------------
// Built-ins 415-418

Value bi_doc_lookup(Value a, Value b) { return doc_lookup(a, b); }
Value bi_doc_pack(Value a, Value) { return doc_pack(a); }
Value bi_doc_store(Value, Value) { return doc_store(arg(1), arg(2), arg(3)); }
Value bi_doc_unpack(Value a, Value) { return doc_unpack(a); }

// ---------------------------------------------------------------------------
// Public interface

void doc_set_system_dir(const char* dir) {
  std::lock_guard<std::mutex> hold(store_lock);
  set_dir(system_dir, &system_dir_set, dir);
  forget_messages();
}
void doc_set_user_dir(const char* dir) { set_dir(user_dir, &user_dir_set, dir); }
void doc_set_store_to_system(bool on) { store_to_system = on; }

Value doc_lookup(Value key1, Value key2) { return lookup(key1, key2, false); }
Value doc_store(Value key1, Value key2, Value text) { return store(key1, key2, text, false); }
Value doc_store_quietly(Value key1, Value key2, Value text) {
  return store(key1, key2, text, true);
}

std::string doc_pack_bytes(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    uint8_t c = p[i];
    if (c == ' ' || c == '\n') {
      // The run: a line feed counts itself and the blanks after it.
      size_t j = i + 1;
      while (j < n && p[j] == ' ') j++;
      size_t run = j - i;
      if (run >= 3) {
        unsigned k = run_count(run);
        out.push_back(char(c == ' ' ? PACK_BLANKS : PACK_NEWLINE));
        out.push_back(char(k));
        i += k;
        continue;
      }
      out.push_back(char(c));
      i++;
    } else if (c == PACK_BLANKS || c == PACK_NEWLINE) {
      out.push_back(char(c));
      out.push_back(1);
      i++;
    } else {
      out.push_back(char(c));
      i++;
    }
  }
  return out;
}

std::string doc_unpack_bytes(const uint8_t* p, size_t n) {
  std::string out(unpacked_length(p, n), ' ');
  unpack_into(p, n, reinterpret_cast<uint8_t*>(out.data()));
  return out;
}

Value doc_pack(Value s) {
  while (!is_string(s)) s = lisp_error(E_WRONG_TYPE, s);
  std::string& buf = scratch.buf;
  buf = doc_pack_bytes(string_bytes(s), string_length(s));
  uint32_t n = uint32_t(buf.size());
  if (n > string_length(s)) {
    Value r = str_make(n);
    std::memcpy(string_bytes(r), scratch.buf.data(), n);
    return r;
  }
  std::memcpy(string_bytes(s), buf.data(), n);
  return str_resize(s, n);
}

Value doc_unpack(Value s) {
  while (!is_string(s)) s = lisp_error(E_WRONG_TYPE, s);
  uint32_t n = string_length(s);
  if (!has_packed(string_bytes(s), n)) return s;
  size_t len = unpacked_length(string_bytes(s), n);
  if (len >= STR_MAX_LENGTH) return lisp_error(E_TOO_LARGE, make_fixnum(int32_t(STR_MAX_LENGTH)));
  root_push(&s);
  Value r = str_make(uint32_t(len));
  root_pop();
  unpack_into(string_bytes(s), n, string_bytes(r));
  return r;
}

Value doc_message_text(uint32_t n) {
  if (n > 255) return NIL;
  bool found;
  {
    std::lock_guard<std::mutex> hold(store_lock);
    found = cached_message(n);
  }
  if (!found) return NIL;
  const std::string& t = scratch.buf;
  return str_from_bytes(reinterpret_cast<const uint8_t*>(t.data()), uint32_t(t.size()));
}

Value doc_error_text(Value datum) {
  if (!is_fixnum(datum)) return datum;
  Value t = symbol_exists(FS_ERROR) ? lookup(datum, make_symbol(FS_ERROR), true) : NIL;
  if (!nil_p(t)) return t;
  int32_t code = fixnum_value(datum);
  // Messages 31 and up are error texts; those below are the system's own
  // headers and prompts.
  if (code >= 0 && code <= 0xFFFF && (code & 0xFF) >= 31)
    return message_text(uint32_t(code) & 0xFF);
  return datum;
}

bool doc_clear_system_pair() {
  {
    std::lock_guard<std::mutex> hold(store_lock);
    forget_messages();
  }
  Pair p;
  if (!pair_names(true, &p)) return true;
  bool ok = true;
  for (const char* f : {p.ind, p.hll})
    if (std::remove(f) != 0 && errno != ENOENT) ok = false;
  return ok;
}
