// The line editor: edits a window's input line in a one-row field on the
// screen and tells its caller which key ended the editing.
//
// Keys (key codes, io/keyboard.h):
//   characters            insert at the cursor (overwrite in overwrite mode)
//   Backspace             delete the character before the cursor
//   Tab, Enter, F1        end editing with that key
//   Esc                   clear the field, end editing with Esc
//   Left, Right, Home, End  move
//   Up, Down              the previous (older) or next history entry
//   Ins                   insert/overwrite; the cursor is a bar or a block
//   Del                   delete the selection, else the character at the cursor
//   control-Backspace     delete the word before the cursor (also meta-Backspace)
//   control-Left/Right    move by words
//   control-Ins           copy the selection to the clipboard
//   shift-Left/Right/Home/End  extend the selection (shown in attribute 0x17)
//   shift-Ins             paste the clipboard at the cursor, replacing the selection
//   shift-Del             cut the selection to the clipboard
//   shift-Tab             remove one level (two spaces) of indentation before the cursor
//   meta-F4               ask whether to leave the system
//   control-meta-Home     abort to top level
// Function keys end editing on an empty line (the break loop's F3, F5, F7
// and control-PgUp); other keys are refused with a beep.
//
// Words are runs of characters that are not delimiters (token role 6 of
// the character attribute table).  A line longer than its field scrolls
// horizontally inside it.  The editor neither allocates Lisp memory nor
// evaluates: what needs Lisp (completion, help, leaving) is done by its
// caller with the key the editor returns.
#pragma once

#include <cstdint>

#include "io/console.h"

enum EditResult : uint8_t {
  EDIT_CONTINUE,  // the key was taken
  EDIT_END,       // editing ended with the key returned in *end
  EDIT_CANCEL,    // Esc: the field is cleared
  EDIT_ABORT,     // control-meta-Home
  EDIT_LEAVE,     // meta-F4: the caller asks whether to leave
};

// Start editing w's line (empty) in the field that begins at the window's
// cursor and runs to its right edge.
void edit_begin(Window* w);
// Take one key; `pasted` marks a key of a bracketed paste, which is text
// (an Enter in it still ends the line).
EditResult edit_key(Window* w, uint16_t key, bool pasted, uint16_t* end);
// Draw the field again (after the screen changed beneath it); `shift`
// rows the text moved up.
void edit_redraw(Window* w, int shift = 0);
// The word around the cursor, as [*start, *end) of the line; false when
// the cursor is not at a word.
bool edit_word(Window* w, uint32_t* start, uint32_t* end);
// Replace [start, end) of the line by n bytes, the cursor after them.
void edit_replace(Window* w, uint32_t start, uint32_t end, const uint8_t* p, uint32_t n);
// Put the window's cursor at the start of the field (before the line is
// written there for good).
void edit_finish(Window* w);
// After this thread has the keyboard again: its edit line back on the
// screen (below what was written meanwhile) with its line in the window,
// when another thread's edit took the window from it (true then).
bool edit_reclaim(Window* w);
// Around Lisp run while a line is edited (completion, help), which may
// edit lines of its own: the edit is kept aside, the window's cursor at
// the field, and taken up again on its row.
struct EditKept;
EditKept* edit_suspend(Window* w);
void edit_resume(Window* w, EditKept* k);
// Around interrupts the thread runs while it waits at its prompt (queued
// by other threads): the edit is kept aside but stays on the screen, and
// the thread's own output makes way for it as another thread's does, so
// what the interrupt prints appears above the prompt.  A line the
// interrupt reads is edited below.  edit_step_back takes the kept edit up
// again (on the screen once more when something took its row) and says
// whether it is on the screen (not while another thread's break loop has
// the window); edit_abandon, for a throw out of the interrupt, leaves the
// line on the screen as it stands, output going on below it, and ends the
// edit.
EditKept* edit_step_aside(Window* w);
bool edit_step_back(Window* w, EditKept* k);
void edit_abandon(Window* w, EditKept* k);
// Output of other threads while a line is edited, under the console lock:
// edit_lift takes the edit line shown on w off the screen (false when
// there is none to take off) and edit_put_back shows it again below what
// was written since.  The window's cursor is the output's: while a line is
// edited it stands where the prompt began.
bool edit_lift(Window* w);
void edit_put_back(Window* w);
// Whether another thread is editing a line of w (shown on the screen), or
// this thread's line is set aside for an interrupt: not input for a read.
bool edit_busy(Window* w);
// A window record goes away: no edit line is shown on it any more.
void edit_forget_window(Window* w);
// Empty the line and the field.
void edit_clear(Window* w);
// Insert or overwrite mode (the cursor shape shows it).
bool edit_overwrite();
