// Sequence functions over lists, vectors and strings: ranges, counts,
// :FROM-END, the test protocol, and the order and number of calls.
#include <gtest/gtest.h>

#include "list_fixture.h"

using namespace listfx;

namespace {

const Value AS_LIST = make_symbol(FS_LIST), AS_STRING = make_symbol(FS_STRING),
            AS_VECTOR = make_symbol(FS_VECTOR);

// Functions for the calls: a counting "less than" on fixnums and character
// codes, and a recorder that lists its arguments.
int calls = 0;
Value counting_less(Value a, Value b) {
  calls++;
  auto n = [](Value v) { return is_fixnum(v) ? fixnum_value(v) : int32_t(v & 0xFF); };
  return bool_value(n(a) < n(b));
}
Value recorder(Value, Value) {
  calls++;
  return args_to_list(zvts->septr, zvts->zvform);
}

class Sequences : public ListTest {
 protected:
  BuiltinRecord saved[2];
  void SetUp() override {
    ListTest::SetUp();
    saved[0] = zv_builtins[BORROWED_A];
    saved[1] = zv_builtins[BORROWED_B];
    zv_builtins[BORROWED_A] = BuiltinRecord{counting_less, 2, 2};
    zv_builtins[BORROWED_B] = BuiltinRecord{recorder, 3, 0};
    calls = 0;
  }
  void TearDown() override {
    zv_builtins[BORROWED_A] = saved[0];
    zv_builtins[BORROWED_B] = saved[1];
    ListTest::TearDown();
  }
  static Value less() { return make_builtin(2, BORROWED_A); }
  static Value record() { return make_builtin(3, BORROWED_B); }
  // A list of characters, which the notation cannot write.
  static Ref chars(const char* s) {
    Call c(BI_LIST);
    for (; *s; s++) c.a(make_char(uint8_t(*s)));
    return hold(c.run());
  }
};

// ---------------------------------------------------------------------------
// Length and element access

TEST_F(Sequences, LengthOfEachKind) {
  EXPECT_EQ(run(BI_LENGTH, "\"abc\""), "3");
  EXPECT_EQ(run(BI_LENGTH, "(1 2 . 3)"), "2");
  EXPECT_EQ(run(BI_LENGTH, "#(1 2 3 4)"), "4");
  EXPECT_EQ(run(BI_LENGTH, "NIL"), "0");
  EXPECT_EQ(LIST_ERROR(Call(BI_LENGTH).a("A").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_LENGTH).a(Call(BI_MAKE_ARRAY).a("(1 1)").run()).run()),
            E_WRONG_TYPE);
}

TEST_F(Sequences, EltAndItsStore) {
  EXPECT_EQ(run(BI_ELT, "(A B C)", "1"), "B");
  EXPECT_EQ(run(BI_ELT, "(A B)", "5"), "NIL");  // lists answer as NTH does
  EXPECT_EQ(run(BI_ELT, "(A B)", "-1"), "A");
  EXPECT_EQ(run(BI_ELT, "#(A B)", "1"), "B");
  EXPECT_EQ(Call(BI_ELT).a("\"xyz\"").a("2").run(), make_char('z'));
  EXPECT_EQ(LIST_ERROR(Call(BI_ELT).a("#(A B)").a("2").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(2));
  EXPECT_EQ(LIST_ERROR(Call(BI_ELT).a("(A)").a("X").run()), E_WRONG_TYPE);

  Ref l = push_datum("(1 2 3)"), v = push_datum("#(1 2 3)"), s = push_datum("\"abc\"");
  EXPECT_EQ(show(Call(BI_SETELT).a(l).a("1").a("X").run()), "X");
  Call(BI_SETELT).a(v).a("2").a("Y").run();
  Call(BI_SETELT).a(s).a("0").a(make_char('q')).run();
  EXPECT_EQ(show(l), "(1 X 3)");
  EXPECT_EQ(show(v), "#(1 2 Y)");
  EXPECT_EQ(show(s), "\"qbc\"");
  EXPECT_EQ(LIST_ERROR(Call(BI_SETELT).a(l).a("3").a("Z").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_SETELT).a(s).a("0").a("5").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(5));
}

// ---------------------------------------------------------------------------
// Copies, reversal, subsequences

TEST_F(Sequences, CopiesAreFresh) {
  Ref l = push_datum("(1 2 . 3)"), v = push_datum("#(1 2)"), s = push_datum("\"ab\"");
  Value cl = Call(BI_COPY_SEQ).a(l).run();
  EXPECT_EQ(show(cl), "(1 2 . 3)");
  EXPECT_NE(cl, Value(l));
  Value cv = Call(BI_COPY_SEQ).a(v).run();
  EXPECT_EQ(show(cv), "#(1 2)");
  EXPECT_NE(cv, Value(v));
  EXPECT_EQ(show(Call(BI_COPY_SEQ).a(s).run()), "\"ab\"");
  EXPECT_EQ(run(BI_COPY_SEQ, "NIL"), "NIL");
  EXPECT_EQ(run(BI_REVERSE, "(1 2 3)"), "(3 2 1)");
  EXPECT_EQ(run(BI_REVERSE, "#(1 2 3)"), "#(3 2 1)");
  EXPECT_EQ(run(BI_REVERSE, "\"abc\""), "\"cba\"");
  EXPECT_EQ(show(l), "(1 2 . 3)");
}

TEST_F(Sequences, NreverseWorksInPlace) {
  Ref v = push_datum("#(1 2 3 4)"), s = push_datum("\"abcde\"");
  EXPECT_EQ(Call(BI_NREVERSE).a(v).run(), Value(v));
  EXPECT_EQ(show(v), "#(4 3 2 1)");
  EXPECT_EQ(Call(BI_NREVERSE).a(s).run(), Value(s));
  EXPECT_EQ(show(s), "\"edcba\"");
  Ref l = push_datum("(1 2 3)");
  Value last = cdr(cdr(l));
  Value r = Call(BI_NREVERSE).a(l).run();
  EXPECT_EQ(show(r), "(3 2 1)");
  EXPECT_EQ(r, last);
}

TEST_F(Sequences, SubseqRanges) {
  EXPECT_EQ(run(BI_SUBSEQ, "\"abcde\"", "1", "3"), "\"bc\"");
  EXPECT_EQ(run(BI_SUBSEQ, "(1 2 3 4)", "1"), "(2 3 4)");
  EXPECT_EQ(run(BI_SUBSEQ, "#(1 2 3 4)", "2", "4"), "#(3 4)");
  EXPECT_EQ(run(BI_SUBSEQ, "#(1 2 3)", "3"), "#()");
  EXPECT_EQ(LIST_ERROR(Call(BI_SUBSEQ).a("#(1 2 3 4 5)").a("0").a("9").run()), E_BAD_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(9));
  EXPECT_EQ(LIST_ERROR(Call(BI_SUBSEQ).a("\"abcde\"").a("3").a("2").run()), E_BOUNDS);
  EXPECT_EQ(LIST_ERROR(Call(BI_SUBSEQ).a("(1 2)").a("-1").run()), E_BAD_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_SUBSEQ).a("(1 2 . 3)").a("0").run()), E_BAD_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "(1 2 . 3)");
  EXPECT_EQ(LIST_ERROR(Call(BI_SUBSEQ).a("5").a("0").run()), E_WRONG_TYPE);
}

TEST_F(Sequences, Concatenate) {
  EXPECT_EQ(show(Call(BI_CONCATENATE).a(AS_LIST).a("\"ab\"").a("#(1)").run()), "(#\\a #\\b 1)");
  Ref cd = chars("cd");
  EXPECT_EQ(show(Call(BI_CONCATENATE).a(AS_STRING).a("\"ab\"").a(cd).a("\"\"").run()), "\"abcd\"");
  EXPECT_EQ(show(Call(BI_CONCATENATE).a(AS_VECTOR).a("#(1 2)").a("(3)").a("\"x\"").run()),
            "#(1 2 3 #\\x)");
  EXPECT_EQ(show(Call(BI_CONCATENATE).a(AS_LIST).run()), "NIL");
  Ref l = push_datum("(1 2)");
  Value r = Call(BI_CONCATENATE).a(AS_LIST).a(l).run();
  EXPECT_EQ(show(r), "(1 2)");
  EXPECT_NE(r, Value(l));
  EXPECT_EQ(LIST_ERROR(Call(BI_CONCATENATE).a("HASH").a("(1)").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_CONCATENATE).a(AS_STRING).a("\"a\"").a("(5)").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(5));
  EXPECT_EQ(LIST_ERROR(Call(BI_CONCATENATE).a(AS_VECTOR).a("#(1)").a("7").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(7));
}

// ---------------------------------------------------------------------------
// BI_FILL, BI_FIND, BI_POSITION

TEST_F(Sequences, FillWithinRange) {
  Ref v = push_datum("#(1 2 3 4)"), l = push_datum("(1 2 3 4)"), s = push_datum("\"abcd\"");
  EXPECT_EQ(Call(BI_FILL).a(v).a("X").kw(FS_START, make_fixnum(1)).kw(FS_END, make_fixnum(3)).run(),
            Value(v));
  EXPECT_EQ(show(v), "#(1 X X 4)");
  Call(BI_FILL).a(l).a("0").kw(FS_START, make_fixnum(2)).run();
  EXPECT_EQ(show(l), "(1 2 0 0)");
  Call(BI_FILL).a(s).a(make_char('z')).kw(FS_END, make_fixnum(1)).run();
  EXPECT_EQ(show(s), "\"zbcd\"");
  EXPECT_EQ(LIST_ERROR(Call(BI_FILL).a(s).a("1").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_FILL).a(v).a("1").kw(FS_END, make_fixnum(5)).run()), E_BAD_TYPE);
}

TEST_F(Sequences, FindAndPosition) {
  const char* pairs = "((1 . A) (2 . B) (1 . C) (3 . D))";
  EXPECT_EQ(show(Call(BI_FIND).a("1").a(pairs).kw(FS_KEY, bi_value(BI_CAR)).run()), "(1 . A)");
  EXPECT_EQ(
      show(Call(BI_FIND).a("1").a(pairs).kw(FS_KEY, bi_value(BI_CAR)).kw(FS_FROM_END, T).run()),
      "(1 . C)");
  EXPECT_EQ(
      show(Call(BI_POSITION).a("1").a(pairs).kw(FS_KEY, bi_value(BI_CAR)).kw(FS_FROM_END, T).run()),
      "2");
  EXPECT_EQ(run(BI_POSITION, "9", "(1 2 3)"), "NIL");
  EXPECT_EQ(run(BI_FIND, "9", "#(1 2 3)"), "NIL");
  EXPECT_EQ(show(Call(BI_POSITION).a("2").a("#(2 1 2 1)").kw(FS_START, make_fixnum(1)).run()), "2");
  EXPECT_EQ(show(Call(BI_POSITION)
                     .a("2")
                     .a("#(2 1 2 1)")
                     .kw(FS_END, make_fixnum(2))
                     .kw(FS_FROM_END, T)
                     .run()),
            "0");
  EXPECT_EQ(show(Call(BI_POSITION).a(make_char('c')).a("\"abcabc\"").kw(FS_FROM_END, T).run()),
            "5");
  // The test sees the item first: (< 2 x) finds the first element above 2.
  EXPECT_EQ(show(Call(BI_FIND).a("2").a("(1 2 5 3)").kw(FS_TEST, less()).run()), "5");
  EXPECT_EQ(show(Call(BI_FIND).a("2").a("(1 2 5 3)").kw(FS_TEST_NOT, less()).run()), "1");
  EXPECT_EQ(
      show(Call(BI_FIND).a("\"B\"").a("(\"a\" \"b\")").kw(FS_TEST, bi_value(BI_EQUALP)).run()),
      "\"b\"");
  EXPECT_EQ(LIST_ERROR(Call(BI_FIND).a("1").a("(1 2 . 3)").run()), E_BAD_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_POSITION).a("1").a("#(1)").kw(FS_START, make_fixnum(2)).run()),
            E_BAD_TYPE);
}

// ---------------------------------------------------------------------------
// BI_REMOVE, BI_DELETE, BI_REMOVE-IF

TEST_F(Sequences, RemoveCountsAndDirection) {
  EXPECT_EQ(run(BI_REMOVE, "1", "(1 2 1 3 1)"), "(2 3)");
  EXPECT_EQ(show(Call(BI_REMOVE).a("1").a("(1 2 1 3 1)").kw(FS_COUNT, make_fixnum(1)).run()),
            "(2 1 3 1)");
  EXPECT_EQ(show(Call(BI_REMOVE).a("1").a("(1 2 1 3 1)").kw(FS_COUNT, NIL).run()), "(2 3)");
  EXPECT_EQ(show(Call(BI_REMOVE)
                     .a("1")
                     .a("(1 2 1 3 1)")
                     .kw(FS_COUNT, make_fixnum(2))
                     .kw(FS_FROM_END, T)
                     .run()),
            "(1 2 3)");
  EXPECT_EQ(show(Call(BI_REMOVE).a("1").a("#(1 2 1 3 1)").kw(FS_START, make_fixnum(1)).run()),
            "#(1 2 3)");
  EXPECT_EQ(show(Call(BI_REMOVE).a("1").a("#(1 2 1)").kw(FS_COUNT, make_fixnum(-2)).run()),
            "#(1 2 1)");
  EXPECT_EQ(
      show(Call(BI_REMOVE).a(make_char('a')).a("\"banana\"").kw(FS_END, make_fixnum(4)).run()),
      "\"bnna\"");
  EXPECT_EQ(show(Call(BI_REMOVE_IF).a(bi_value(BI_CONSP)).a("(1 (2) 3 (4))").run()), "(1 3)");
  EXPECT_EQ(LIST_ERROR(Call(BI_REMOVE).a("1").a("(1)").kw(FS_COUNT, T).run()), E_BAD_TYPE);
  EXPECT_EQ(ErrorTrap::object, T);
}

// BI_REMOVE always builds a new sequence; the argument is left alone.
TEST_F(Sequences, RemoveLeavesItsArgument) {
  Ref l = push_datum("(1 2 3)");
  Value r = Call(BI_REMOVE).a("9").a(l).run();
  EXPECT_EQ(show(r), "(1 2 3)");
  for (Value a = l; cons_p(a); a = cdr(a))
    for (Value b = r; cons_p(b); b = cdr(b)) EXPECT_NE(a, b);
  Ref v = push_datum("#(1 2 1)");
  Call(BI_REMOVE).a("1").a(v).run();
  EXPECT_EQ(show(v), "#(1 2 1)");
}

TEST_F(Sequences, DeleteReusesItsArgument) {
  Ref l = push_datum("(1 2 1 3)");
  Value second = cdr(l);
  Value r = Call(BI_DELETE).a("1").a(l).run();
  EXPECT_EQ(show(r), "(2 3)");
  EXPECT_EQ(r, second);
  // Shortened where it lies: a filler takes the freed tail.
  Ref v = push_datum("#(1 2 1 3 1 4)");
  push_datum("\"behind\"");
  EXPECT_EQ(Call(BI_DELETE).a("1").a(v).run(), Value(v));
  EXPECT_EQ(show(v), "#(2 3 4)");
  Ref s = push_datum("\"a-b-c-d\"");
  EXPECT_EQ(show(Call(BI_DELETE).a(make_char('-')).a(s).run()), "\"abcd\"");
  EXPECT_EQ(run(BI_DELETE, "1", "(1 1)"), "NIL");
}

// A predicate that shortens the vector it is walking cannot make the walk
// read past the vector's end.
Value shrink_target;
Value shrinking_predicate(Value x, Value) {
  if (heap_length(shrink_target) > 2) shrink_target = mem_resize_vector(shrink_target, 2);
  return NIL;
}

TEST_F(Sequences, ShortenedDuringTheWalk) {
  BuiltinRecord saved = zv_builtins[BORROWED_C];
  zv_builtins[BORROWED_C] = BuiltinRecord{shrinking_predicate, 2, 1};
  root_push(&shrink_target);
  shrink_target = Call(BI_MAKE_ARRAY).a("10").kw(13, make_fixnum(1)).run();  // MAKE-ARRAY
  Ref v = hold(shrink_target);
  EXPECT_EQ(show(Call(BI_REMOVE_IF).a(make_builtin(2, BORROWED_C)).a(v).run()), "#(1 1)");
  shrink_target = Call(BI_MAKE_ARRAY).a("10").kw(13, make_fixnum(1)).run();
  Ref w = hold(shrink_target);
  EXPECT_EQ(
      show(Call(BI_FIND).a("5").a(w).kw(FS_KEY, make_builtin(2, BORROWED_C)).kw(FS_FROM_END, T).run()),
      "NIL");
  root_pop();
  shrink_target = NIL;
  zv_builtins[BORROWED_C] = saved;
}

// ---------------------------------------------------------------------------
// BI_REPLACE

TEST_F(Sequences, ReplaceCopiesWhatBothRangesAllow) {
  Ref v = push_datum("#(1 2 3 4 5)");
  EXPECT_EQ(Call(BI_REPLACE).a(v).a("(A B C)").kw(FS_START1, make_fixnum(3)).run(), Value(v));
  EXPECT_EQ(show(v), "#(1 2 3 A B)");
  Ref l = push_datum("(1 2 3)");
  Call(BI_REPLACE).a(l).a("\"xyz\"").kw(FS_START2, make_fixnum(1)).run();
  EXPECT_EQ(show(l), "(#\\y #\\z 3)");
  Ref s = push_datum("\"abcdef\""), xy = chars("XY");
  Call(BI_REPLACE).a(s).a(xy).kw(FS_START1, make_fixnum(2)).kw(FS_END1, make_fixnum(3)).run();
  EXPECT_EQ(show(s), "\"abXdef\"");
  // Overlapping ranges of one sequence: as if the source were copied first.
  Ref o = push_datum("#(1 2 3 4)");
  Call(BI_REPLACE).a(o).a(o).kw(FS_START1, make_fixnum(1)).run();
  EXPECT_EQ(show(o), "#(1 1 2 3)");
  Ref ol = push_datum("(1 2 3 4)");
  Call(BI_REPLACE).a(ol).a(ol).kw(FS_START1, make_fixnum(1)).run();
  EXPECT_EQ(show(ol), "(1 1 2 3)");
  // A non-character for a string is refused before anything changes.
  EXPECT_EQ(LIST_ERROR(Call(BI_REPLACE).a(s).a("(Q 1)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(s), "\"abXdef\"");
}

// ---------------------------------------------------------------------------
// BI_REDUCE

TEST_F(Sequences, ReduceOrderAndInitialValue) {
  Value f = record();
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("(1 2 3)").run()), "((1 2) 3)");
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("(1 2 3)").kw(FS_FROM_END, T).run()), "(1 (2 3))");
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("#(1 2 3)").kw(FS_FROM_END, T).run()), "(1 (2 3))");
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("(1 2)").kw(FS_INITIAL_VALUE, make_fixnum(0)).run()),
            "((0 1) 2)");
  EXPECT_EQ(show(Call(BI_REDUCE)
                     .a(f)
                     .a("(1 2)")
                     .kw(FS_INITIAL_VALUE, make_fixnum(0))
                     .kw(FS_FROM_END, T)
                     .run()),
            "(1 (2 0))");
  EXPECT_EQ(show(Call(BI_REDUCE)
                     .a(f)
                     .a("((1) (2) (3))")
                     .kw(FS_KEY, bi_value(BI_CAR))
                     .kw(FS_START, make_fixnum(1))
                     .run()),
            "(2 3)");
  calls = 0;
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("NIL").kw(FS_INITIAL_VALUE, make_fixnum(5)).run()), "5");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("(7)").run()), "7");
  EXPECT_EQ(calls, 0);
  // An empty range without an initial value calls the function with nothing.
  EXPECT_EQ(show(Call(BI_REDUCE).a(f).a("(1 2)").kw(FS_START, make_fixnum(2)).run()), "NIL");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(LIST_ERROR(Call(BI_REDUCE).a(f).a("(1 2)").kw(FS_COUNT, make_fixnum(1)).run()), 0u);
  EXPECT_EQ(ErrorTrap::warning_code, E_BAD_KEYWORD);  // :COUNT is not BI_REDUCE's
}

// ---------------------------------------------------------------------------
// BI_SORT: the selection sort calls the predicate n(n-1)/2 times.

TEST_F(Sequences, SortInPlace) {
  Ref l = push_datum("(3 1 4 1 5 9 2 6)");
  Value first = l;
  calls = 0;
  Value r = Call(BI_SORT).a(l).a(less()).run();
  EXPECT_EQ(show(r), "(1 1 2 3 4 5 6 9)");
  EXPECT_EQ(r, first);  // elements move between the cells
  EXPECT_EQ(calls, 8 * 7 / 2);
  Ref v = push_datum("#(5 3 8 1)");
  calls = 0;
  EXPECT_EQ(Call(BI_SORT).a(v).a(less()).run(), Value(v));
  EXPECT_EQ(show(v), "#(1 3 5 8)");
  EXPECT_EQ(calls, 6);
  Ref s = push_datum("\"sorted\"");
  Call(BI_SORT).a(s).a(less()).run();
  EXPECT_EQ(show(s), "\"deorst\"");
  EXPECT_EQ(show(Call(BI_SORT)
                     .a("((2 . B) (1 . A) (3 . C))")
                     .a(less())
                     .kw(FS_KEY, bi_value(BI_CAR))
                     .run()),
            "((1 . A) (2 . B) (3 . C))");
  EXPECT_EQ(run(BI_SORT, "NIL", "5"), "NIL");
}

// ---------------------------------------------------------------------------
// BI_MISMATCH (built-in 144)

TEST_F(Sequences, Mismatch) {
  EXPECT_EQ(run(BI_MISMATCH, "\"abcd\"", "\"abxd\""), "2");
  EXPECT_EQ(run(BI_MISMATCH, "\"abc\"", "\"abc\""), "NIL");
  EXPECT_EQ(run(BI_MISMATCH, "\"abc\"", "\"ab\""), "2");
  EXPECT_EQ(run(BI_MISMATCH, "(1 2)", "#(1 2 3)"), "2");
  EXPECT_EQ(show(Call(BI_MISMATCH).a("\"abc\"").a("\"xbc\"").kw(FS_FROM_END, T).run()), "1");
  EXPECT_EQ(show(Call(BI_MISMATCH).a("(1 2 3)").a("(2 3)").kw(FS_FROM_END, T).run()), "1");
  EXPECT_EQ(show(Call(BI_MISMATCH).a("\"xabc\"").a("\"abc\"").kw(FS_START1, make_fixnum(1)).run()),
            "NIL");
  EXPECT_EQ(
      show(Call(BI_MISMATCH).a("\"ABC\"").a("\"abd\"").kw(FS_TEST, bi_value(BI_EQUALP)).run()),
      "2");
  EXPECT_EQ(
      show(Call(BI_MISMATCH).a("((1) (2))").a("((1) (3))").kw(FS_KEY, bi_value(BI_CAR)).run()),
      "1");
  EXPECT_EQ(show(Call(BI_MISMATCH)
                     .a("(1 2 3)")
                     .a("(9 9 9)")
                     .kw(FS_TEST_NOT, bi_value(BI_EQUAL))
                     .kw(FS_END1, make_fixnum(2))
                     .kw(FS_END2, make_fixnum(2))
                     .run()),
            "NIL");
}

// ---------------------------------------------------------------------------
// Long lists go through every function without native recursion, and the
// walks stay right while the collector moves things (ZORVA_GC_STRESS).

TEST_F(Sequences, LongListsAndCollections) {
  std::string text = "(";
  for (int i = 0; i < 200; i++) text += std::to_string(i % 7) + " 1.5 \"s\" ";
  text += ")";
  Ref l = push_datum(text.c_str());
  EXPECT_EQ(show(Call(BI_LENGTH).a(l).run()), "600");
  Ref kept = hold(Call(BI_REMOVE).a("1.5").a(l).run());
  EXPECT_EQ(show(Call(BI_LENGTH).a(kept).run()), "400");
  Ref v = hold(Call(BI_CONCATENATE).a(AS_VECTOR).a(kept).a(l).run());
  EXPECT_EQ(show(Call(BI_LENGTH).a(v).run()), "1000");
  EXPECT_EQ(show(Call(BI_POSITION)
                     .a("\"s\"")
                     .a(v)
                     .kw(FS_TEST, bi_value(BI_EQUAL))
                     .kw(FS_FROM_END, T)
                     .run()),
            "999");
  EXPECT_EQ(show(Call(BI_COPY_SEQ).a(l).run()), show(l));
  Ref r = hold(Call(BI_REVERSE).a(l).run());
  EXPECT_EQ(show(Call(BI_NREVERSE).a(r).run()), show(l));
}

}  // namespace
