// Streams (being written).
#include "io/stream.h"

#include "object/error_hook.h"
#include "object/memory.h"

thread_local uint32_t zv_printer_column = 0;

uint32_t handle_add_file(FILE*) { return 0; }
uint32_t handle_add_window(Window*) { return 0; }
FILE* handle_file(uint32_t) { return nullptr; }
Window* handle_window(uint32_t) { return nullptr; }
void handle_release(uint32_t) {}
Value make_stream(uint8_t, Value, uint32_t, uint32_t) { return NIL; }
Value make_file_stream(uint8_t, Value, FILE*, uint16_t) { return NIL; }
Value make_window_stream(Value, Window*) { return NIL; }
Value make_string_input_stream(Value, uint32_t, uint32_t) { return NIL; }
Value make_string_output_stream() { return NIL; }
Value string_output_contents(Value) { return NIL; }
Value input_stream(Value d) { return d; }
Value output_stream(Value d) { return d; }
int stream_read_char(Value) { return -1; }
void stream_unread_char(Value, int) {}
void stream_write_char(Value, int) {}
void stream_write_bytes(Value, const char*, uint32_t) {}
void stream_write_cstr(Value, const char*) {}
uint32_t stream_column(Value) { return 0; }
uint32_t stream_right_margin(Value) { return 78; }
uint8_t cp1251_to_866(uint8_t c) { return c; }
uint8_t cp866_to_1251(uint8_t c) { return c; }
Value stream_read_with(ReaderFn fn, Value s, uint32_t flags, Value) { return fn(s, flags); }
void stream_end_of_file(Value s, uint32_t) { zv_error(0x1043, s); }
