// The console device on its memory back end (the cell rules every back end
// shares) and the keyboard: the scan-code table, key codes, and the
// terminal decoder.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "io/console_device.h"
#include "io/keyboard.h"
#include "io/terminal.h"

namespace {

// The characters of one screen row.
std::string row_text(const ConsoleDevice& d, int row) {
  std::string s;
  for (int c = 0; c < d.cols(); c++) s += char(d.cell(row, c).ch);
  return s;
}

uint32_t write(ConsoleDevice& d, const std::string& s) {
  return d.write_text(reinterpret_cast<const uint8_t*>(s.data()), int64_t(s.size()));
}

TEST(ConsoleDevice, WritingWrapsAtTheRightEdgeAndCountsLineAdvances) {
  MemoryDevice d(5, 10);
  d.set_viewport(1, 2, 3, 5);  // 3 rows of 4 columns
  d.set_attribute(0x1E);
  EXPECT_EQ(write(d, "abcdef\ng"), 2u);  // the edge, then the line feed
  EXPECT_EQ(row_text(d, 1), "  abcd    ");
  EXPECT_EQ(row_text(d, 2), "  ef      ");
  EXPECT_EQ(row_text(d, 3), "  g       ");
  EXPECT_EQ(d.cell(1, 2).attr, 0x1E);
  EXPECT_EQ(d.cursor_row(), 2);
  EXPECT_EQ(d.cursor_col(), 1);
  // Filling the last column moves to the next row at once.
  d.set_cursor(0, 0);
  EXPECT_EQ(write(d, "wxyz"), 1u);
  EXPECT_EQ(d.cursor_row(), 1);
  EXPECT_EQ(d.cursor_col(), 0);
}

TEST(ConsoleDevice, OneRowViewportCutsInsteadOfWrapping) {
  MemoryDevice d(3, 10);
  d.set_viewport(1, 0, 1, 4);
  EXPECT_EQ(write(d, "abcdefgh"), 0u);
  EXPECT_EQ(row_text(d, 1), "abcde     ");
  EXPECT_EQ(row_text(d, 2), "          ");
  // A line feed ends the cut: the next line replaces the row.
  write(d, "\nxy");
  EXPECT_EQ(row_text(d, 1), "xy        ");
}

TEST(ConsoleDevice, WritingBelowTheBottomScrollsTheViewportOnly) {
  MemoryDevice d(4, 6);
  d.set_attribute(0x07);
  d.write_text(reinterpret_cast<const uint8_t*>("######"), 6);  // row 0, outside the viewport
  d.set_viewport(1, 0, 2, 5);
  d.set_attribute(0x70);
  write(d, "one\ntwo\nthree");
  EXPECT_EQ(row_text(d, 0), "######");
  EXPECT_EQ(row_text(d, 1), "two   ");
  EXPECT_EQ(row_text(d, 2), "three ");
  EXPECT_EQ(d.cell(2, 5).attr, 0x70);  // the vacated row in the current attribute
  // The line feed after the last row leaves the cursor below; the scroll
  // waits for the next character.
  write(d, "\n");
  EXPECT_EQ(row_text(d, 2), "three ");
  EXPECT_EQ(d.cursor_row(), 2);  // one below the two rows
  write(d, "x");
  EXPECT_EQ(row_text(d, 1), "three ");
  EXPECT_EQ(row_text(d, 2), "x     ");
}

TEST(ConsoleDevice, ACursorPlacedBeyondTheEdgeWrapsOrCutsFirst) {
  MemoryDevice d(4, 6);
  d.set_viewport(0, 0, 3, 3);
  d.set_cursor(0, 4);  // just right of the viewport
  EXPECT_EQ(write(d, "ab"), 1u);
  EXPECT_EQ(row_text(d, 1), "ab    ");
  d.set_viewport(3, 0, 3, 3);
  d.set_cursor(0, 4);
  write(d, "zz");
  EXPECT_EQ(row_text(d, 3), "      ");
}

TEST(ConsoleDevice, TabsCarriageReturnsAndControlCharacters) {
  MemoryDevice d(2, 20);
  write(d, "a\tb\rc");
  EXPECT_EQ(row_text(d, 0), "c       b           ");
  write(d, std::string(1, '\x01'));
  EXPECT_EQ(d.cell(0, 1).ch, 1);  // stored as a cell; the terminal shows a glyph
}

TEST(ConsoleDevice, ScrollClearAndCellsStayInsideTheirRectangles) {
  MemoryDevice d(4, 4);
  for (int r = 0; r < 4; r++)
    for (int c = 0; c < 4; c++) d.put_cell(r, c, Cell{uint8_t('a' + 4 * r + c), 7});
  d.set_viewport(1, 1, 3, 2);
  d.set_attribute(0x17);
  d.scroll_viewport(-1);
  EXPECT_EQ(row_text(d, 1), "ejkh");
  EXPECT_EQ(row_text(d, 2), "inol");
  EXPECT_EQ(row_text(d, 3), "m  p");
  d.scroll_viewport(2);
  EXPECT_EQ(row_text(d, 1), "e  h");
  EXPECT_EQ(row_text(d, 3), "mjkp");
  d.clear_viewport();
  EXPECT_EQ(row_text(d, 0), "abcd");
  EXPECT_EQ(row_text(d, 3), "m  p");
  EXPECT_EQ(d.cell(3, 1).attr, 0x17);
  EXPECT_EQ(d.cell(3, 0).attr, 7);
  // Rectangles partly off the screen: blanks in, nothing out.
  Cell got[4];
  d.read_cells(Rect{3, 3, 4, 4}, got);
  EXPECT_EQ(got[0].ch, 'p');
  EXPECT_EQ(got[1].ch, ' ');
  EXPECT_EQ(got[3].ch, ' ');
  Cell x[4] = {{'1', 7}, {'2', 7}, {'3', 7}, {'4', 7}};
  d.write_cells(Rect{-1, 2, 0, 3}, x);
  EXPECT_EQ(row_text(d, 0), "ab34");
  EXPECT_EQ(d.cell(-1, 0).ch, ' ');
}

TEST(ConsoleDevice, ResizeKeepsCellsWhereTheyWere) {
  MemoryDevice d(3, 3);
  d.put_cell(1, 1, Cell{'x', 7});
  d.put_cell(2, 2, Cell{'y', 7});
  d.resize(2, 5);
  EXPECT_EQ(d.rows(), 2);
  EXPECT_EQ(d.cols(), 5);
  EXPECT_EQ(d.cell(1, 1).ch, 'x');
  EXPECT_EQ(d.cell(1, 4).ch, ' ');
}

// Output that is no terminal (a file, a pipe, a closed descriptor) has no
// size to read: the console is 80 by 25 then.
TEST(ConsoleDevice, ATerminalSizeThatCannotBeReadIs80By25) {
  FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  int rows = 0, cols = 0;
  TerminalDevice::terminal_size(fileno(f), &rows, &cols);
  EXPECT_EQ(rows, 25);
  EXPECT_EQ(cols, 80);
  std::fclose(f);
  rows = cols = 0;
  TerminalDevice::terminal_size(-1, &rows, &cols);
  EXPECT_EQ(rows, 25);
  EXPECT_EQ(cols, 80);
  // A device made on such output opens nothing and has that size.
  TerminalDevice d(-1, -1);
  EXPECT_FALSE(d.open());
  EXPECT_EQ(d.rows(), 25);
  EXPECT_EQ(d.cols(), 80);
}

TEST(ConsoleDevice, CursorShapeAndVisibilityReturnTheOldState) {
  MemoryDevice d(2, 2);
  EXPECT_TRUE(d.set_cursor_visible(false));
  EXPECT_FALSE(d.set_cursor_visible(true));
  EXPECT_EQ(d.set_cursor_size(40), 25);
  EXPECT_EQ(d.set_cursor_size(500), 40);
  EXPECT_EQ(d.cursor_size(), 100);
}

TEST(ConsoleDevice, KeyQueueKeepsOrderAndEndsWhenEmpty) {
  MemoryDevice d(2, 2);
  d.push_key(KeyEvent{30, 'a', 0});
  d.push_key(KeyEvent{48, 'b', 0});
  EXPECT_TRUE(d.key_pending());
  KeyEvent k;
  ASSERT_EQ(d.wait_key(&k), WAIT_KEY);
  EXPECT_EQ(k.ch, 'a');
  d.flush_keys();
  EXPECT_FALSE(d.key_pending());
  EXPECT_EQ(d.wait_key(&k), WAIT_CLOSED);  // memory has no more input
}

// ---------------------------------------------------------------------------
// Keys

TEST(KeyTable, RowsOfThePcKeyboard) {
  EXPECT_EQ(zv_key_table[1], 27);
  EXPECT_EQ(zv_key_table[14], 8);
  EXPECT_EQ(zv_key_table[15], 0x809);
  EXPECT_EQ(zv_key_table[16], 'Q');
  EXPECT_EQ(zv_key_table[27], ']');
  EXPECT_EQ(zv_key_table[28], 13);
  EXPECT_EQ(zv_key_table[38], 'L');
  EXPECT_EQ(zv_key_table[43], '\\');
  EXPECT_EQ(zv_key_table[50], 'M');
  EXPECT_EQ(zv_key_table[57], ' ');
  EXPECT_EQ(zv_key_table[59], 0x139);
  EXPECT_EQ(zv_key_table[68], 0x142);
  EXPECT_EQ(zv_key_table[79], 0x10A);
  EXPECT_EQ(zv_key_table[83], 0x14E);
  EXPECT_EQ(zv_key_table[84], 0x939);
  EXPECT_EQ(zv_key_table[103], 0x342);
  EXPECT_EQ(zv_key_table[113], 0x542);
  EXPECT_EQ(zv_key_table[120], 0x431);
  EXPECT_EQ(zv_key_table[131], 0x43D);
  EXPECT_EQ(zv_key_table[133], 0x143);
  EXPECT_EQ(zv_key_table[134], 0x144);
  // A modified key looks up its plain entry with the modifier bits, which
  // the BIOS rows agree with.
  EXPECT_EQ(key_code(KeyEvent{SC_F1, 0, KM_SHIFT}), zv_key_table[84]);
  EXPECT_EQ(key_code(KeyEvent{SC_LEFT, 0, KM_CONTROL}), zv_key_table[115]);
  EXPECT_EQ(key_code(KeyEvent{2, '1', KM_META}), zv_key_table[120]);
}

TEST(KeyTable, KeyCodesOfEvents) {
  EXPECT_EQ(key_code(KeyEvent{30, 'a', 0}), 'a');
  EXPECT_EQ(key_code(KeyEvent{30, 'A', KM_SHIFT}), 'A');
  EXPECT_EQ(key_code(KeyEvent{0, 0xE0, 0}), 0xE0);  // a Cyrillic letter
  EXPECT_EQ(key_code(KeyEvent{SC_ENTER, 13, 0}), 13);
  EXPECT_EQ(key_code(KeyEvent{SC_ENTER, 13, KM_CONTROL}), 0x20D);
  EXPECT_EQ(key_code(KeyEvent{SC_TAB, 9, 0}), 9);
  EXPECT_EQ(key_code(KeyEvent{SC_TAB, 9, KM_SHIFT}), 0x809);
  EXPECT_EQ(key_code(KeyEvent{31, 0x13, KM_CONTROL}), 0x253);  // control-S
  EXPECT_EQ(key_code(KeyEvent{31, 0x13, 0}), 0x253);  // a control character alone gets the bit
  EXPECT_EQ(key_code(KeyEvent{SC_HOME, 0, KM_CONTROL | KM_META}), 0x745);
  EXPECT_EQ(key_code(KeyEvent{SC_F1 + 3, 0, KM_META}), 0x53C);
  EXPECT_EQ(key_code(KeyEvent{SC_SPACE, ' ', 0}), ' ');
  // The keypad: digits with Num Lock, the cursor keys without.
  EXPECT_EQ(key_code(KeyEvent{SC_UP, '8', KM_NUM_LOCK}), '8');
  EXPECT_EQ(key_code(KeyEvent{SC_UP, '8', 0}), 0x146);
  EXPECT_EQ(key_code(KeyEvent{200, 0, 0}), 0);  // no such key
}

// Decoded key codes of what a terminal sent.
std::vector<uint16_t> keys(const std::string& bytes, uint8_t erase = 0x7F, bool wait = true,
                           std::vector<bool>* pasted = nullptr) {
  KeyDecoder dec(erase);
  dec.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  if (wait) dec.flush_pending();
  std::vector<uint16_t> out;
  KeyEvent k;
  while (dec.pop(&k)) {
    out.push_back(key_code(k));
    if (pasted) pasted->push_back(k.mods & KM_PASTED);
  }
  return out;
}

using Codes = std::vector<uint16_t>;

TEST(KeyDecoder, CursorAndEditingKeysOfTheTerminalFamilies) {
  EXPECT_EQ(keys("\x1b[A\x1b[B\x1b[C\x1b[D"), (Codes{0x146, 0x14B, 0x14A, 0x148}));
  EXPECT_EQ(keys("\x1bOA\x1bOH\x1bOF"), (Codes{0x146, 0x145, 0x10A}));  // application mode
  EXPECT_EQ(keys("\x1b[H\x1b[F\x1b[1~\x1b[4~\x1b[7~\x1b[8~"),
            (Codes{0x145, 0x10A, 0x145, 0x10A, 0x145, 0x10A}));
  EXPECT_EQ(keys("\x1b[2~\x1b[3~\x1b[5~\x1b[6~"), (Codes{0x14D, 0x14E, 0x147, 0x14C}));
  // Modifiers in the CSI 1;m forms: 2 shift, 3 meta, 5 control, 7 control-meta.
  EXPECT_EQ(keys("\x1b[1;2D\x1b[1;5C\x1b[1;3A\x1b[1;7H\x1b[3;2~\x1b[2;5~"),
            (Codes{0x948, 0x34A, 0x546, 0x745, 0x94E, 0x34D}));
  // rxvt: $ shift, ^ control, lower-case letters for modified arrows.
  EXPECT_EQ(keys("\x1b[2$\x1b[3^\x1b[d\x1bOc"), (Codes{0x94D, 0x34E, 0x948, 0x34A}));
  // Meta as an Esc prefix, also before a sequence.
  EXPECT_EQ(keys("\x1bx\x1b\x1b[A"), (Codes{0x458, 0x546}));
  EXPECT_EQ(keys("\x1b[Z"), (Codes{0x809}));
}

TEST(KeyDecoder, FunctionKeys) {
  EXPECT_EQ(keys("\x1bOP\x1bOS\x1b[15~\x1b[17~\x1b[21~\x1b[23~\x1b[24~"),
            (Codes{0x139, 0x13C, 0x13D, 0x13E, 0x142, 0x143, 0x144}));
  EXPECT_EQ(keys("\x1b[11~\x1b[12~\x1b[[A\x1b[[E"), (Codes{0x139, 0x13A, 0x139, 0x13D}));
  EXPECT_EQ(keys("\x1b[1;2P\x1b[15;5~\x1b[1;3S\x1bO2P"), (Codes{0x939, 0x33D, 0x53C, 0x939}));
}

TEST(KeyDecoder, ControlKeysBackspaceAndALoneEsc) {
  EXPECT_EQ(keys("\x7f\x08\t\r\x01"), (Codes{8, 0x208, 9, 13, 0x241}));
  EXPECT_EQ(keys("\x7f\x08", 0x08), (Codes{0x208, 8}));  // a terminal whose Backspace sends ^H
  EXPECT_EQ(keys("\x1b\x7f"), (Codes{0x408}));
  // Esc alone is known only after the wait; a sequence cut short is the
  // keys it consists of.
  EXPECT_EQ(keys("\x1b", 0x7F, false), Codes{});
  EXPECT_EQ(keys("\x1b"), Codes{27});
  EXPECT_EQ(keys("\x1b[1;"), (Codes{27, '[', '1', ';'}));
}

TEST(KeyDecoder, Utf8BecomesCp1251AndOtherCharactersAreRefused) {
  KeyDecoder dec;
  std::string in = "\xD0\x90\xD1\x8F\xE2\x84\x96\xE4\xB8\x80z";  // А я № 一 z
  dec.feed(reinterpret_cast<const uint8_t*>(in.data()), in.size());
  Codes got;
  KeyEvent k;
  while (dec.pop(&k)) got.push_back(key_code(k));
  EXPECT_EQ(got, (Codes{0xC0, 0xFF, 0xB9, 'z'}));
  EXPECT_EQ(dec.take_refused(), 1);
  EXPECT_EQ(dec.take_refused(), 0);
}

TEST(KeyDecoder, BracketedPasteIsTextAndItsLinesEndAsEnterWould) {
  std::vector<bool> pasted;
  Codes got = keys("a\x1b[200~(f\tx)\r\ny\x1b[201~b", 0x7F, true, &pasted);
  EXPECT_EQ(got, (Codes{'a', '(', 'f', 9, 'x', ')', 13, 'y', 'b'}));
  EXPECT_EQ(pasted, (std::vector<bool>{false, true, true, true, true, true, true, true, false}));
}

// ---------------------------------------------------------------------------
// Code page 1251

TEST(CodePage1251, EveryCodeRoundTripsThroughUnicode) {
  for (int c = 0; c < 256; c++) {
    if (c == 0x98) continue;  // 1251 has no character there
    EXPECT_EQ(cp1251_of_unicode(unicode_of_1251(uint8_t(c))), c) << c;
  }
  char buf[4];
  EXPECT_EQ(std::string(buf, utf8_from_1251(0xC0, buf)), "\xD0\x90");
  EXPECT_EQ(cp1251_of_unicode(0x4E00), -1);
}

}  // namespace
