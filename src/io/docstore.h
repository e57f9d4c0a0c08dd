// The documentation store: texts kept outside the image, in pairs of files,
// an index (".IND") and a text file (".HLL"), under two Lisp objects as
// keys.
//
// The system pair, named after the language ("ENGLISH", or "RUSSIAN" when
// RUSSIAN is on *FEATURES* and that pair exists), lives in the system
// directory: the kernel's own directory.  It holds the message texts from number 40 up (first key
// NIL, second key the message number) and the documentation of the
// library the genesis loaded.  The user pair "ZORVADOC" lives in the
// documentation directory, the working directory at start-up, and receives
// what defining forms and %DOC-STORE record while the system runs.
//
// Texts are stored as printed strings whose blank runs are packed: a run of
// three or more blanks becomes byte 9 and a count, a line feed followed by
// blanks (three characters or more) byte 11 and a count.  A count is never
// 26, 34 or 92, so the text file has no end-of-file mark, quote or
// backslash where a count stands.  A tab or vertical tab of the text itself
// is written as its byte followed by a count of 1, which blank runs never
// use, so such texts come back unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "object/value.h"

// Where the pairs are.  A directory is "" (the working directory) or a
// path ending in '/'.  nullptr returns to the default: the program
// directory and the working directory at start-up, which exist only once
// start-up has run; before that (the genesis, unit tests) a pair whose
// directory was never set is not used.
void doc_set_system_dir(const char* dir);
void doc_set_user_dir(const char* dir);
// While on, stores go to the system pair; the genesis records the
// library's documentation there.  Lookups then use the system pair only.
void doc_set_store_to_system(bool on);

// Built-in 415: the text stored under (key1, key2), or with key2 NIL a list
// of (second key . text) for every text under key1; NIL when none.  The
// user pair is searched before the system pair (key1 NIL: the system pair
// only), so the user's documentation stands in front of the system's.
// Keys are NIL, fixnums, characters or symbols; anything else is error
// 4146.
Value doc_lookup(Value key1, Value key2);
// Built-in 417: store text (a string) under the keys, or delete with NIL;
// the text, or NIL when a file operation failed.
Value doc_store(Value key1, Value key2, Value text);
// The same, for the defining forms: never signals, so that a definition
// does not fail for want of a writable documentation directory.
Value doc_store_quietly(Value key1, Value key2, Value text);

// Built-in 416: pack the blanks of a simple string in place and return it
// (a new string in the rare case that the packed form is longer).
Value doc_pack(Value s);
// Built-in 418: unpack into a new string; the argument itself when it has
// nothing packed.
Value doc_unpack(Value s);

// Message n (40 and up) from the system pair, or NIL.  Never signals.
Value doc_message_text(uint32_t n);
// The control string for a fixnum datum of ERROR, CERROR and WARN: its
// documentation under the symbol ERROR, else the message text of the code
// (its low byte) when the datum is an error code, else the datum itself.
Value doc_error_text(Value datum);

// Packing on bytes, for the genesis and the tests.
std::string doc_pack_bytes(const uint8_t* p, size_t n);
std::string doc_unpack_bytes(const uint8_t* p, size_t n);

// Remove both files of the system pair (the genesis starts it afresh).
// False when a file exists and cannot be removed.
bool doc_clear_system_pair();
