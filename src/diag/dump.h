// Debug dumps to "dumph.log": the Lisp stack of a thread and the symbol
// hash array.
#pragma once

struct ThreadState;

void dump_environment(ThreadState* ts, const char* reason);
void dump_symbol_hash(const char* reason);
