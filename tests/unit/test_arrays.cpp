// Arrays and vectors: shapes, subscripts, MAKE-ARRAY and appending.
#include <gtest/gtest.h>

#include "list_fixture.h"
#include "object/arrays.h"

using namespace listfx;

namespace {

constexpr uint32_t E_FEW_SUBSCRIPTS = 0x1433, E_MANY_SUBSCRIPTS = 0x1434, E_TOO_LARGE = 0x144B;
const Value STRING_CHAR = make_symbol(FS_STRING_CHAR);

class Arrays : public ListTest {
 protected:
  // A 2 x 3 array holding 0..5 in row-major order.
  Ref two_by_three() {
    Ref a = hold(Call(BI_MAKE_ARRAY).a("(2 3)").run());
    for (int i = 0; i < 6; i++)
      Call(BI_SET_ROW_MAJOR_AREF).a(a).a(make_fixnum(i)).a(make_fixnum(i)).run();
    return a;
  }
  static Value aref(Value a, int i, int j) {
    return Call(BI_AREF).a(a).a(make_fixnum(i)).a(make_fixnum(j)).run();
  }
};

// The fill routine of nested initial contents records what it was given.
Value fill_seen;
Value record_fill(Value, Value) {
  fill_seen = args_to_list(zvts->septr, zvts->zvform);
  return NIL;
}

TEST_F(Arrays, TwoByThreeShape) {
  Ref a = two_by_three();
  EXPECT_EQ(show(Call(BI_ARRAY_RANK).a(a).run()), "2");
  EXPECT_EQ(show(Call(BI_ARRAY_TOTAL_SIZE).a(a).run()), "6");
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSIONS).a(a).run()), "(2 3)");
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSION).a(a).a(make_fixnum(1)).run()), "3");
  EXPECT_EQ(heap_raw_words(a), 1u);  // the first dimension, stored
  EXPECT_EQ(heap_word(a, 6), 2u);
  EXPECT_EQ(show(Call(BI_ARRAY_ROW_MAJOR_INDEX).a(a).a("1").a("2").run()), "5");
  EXPECT_EQ(show(aref(a, 1, 2)), "5");
  EXPECT_EQ(show(aref(a, 1, 0)), "3");
  EXPECT_EQ(show(Call(BI_ARRAY_ELEMENT_TYPE).a(a).run()), "T");
  EXPECT_EQ(LIST_ERROR(Call(BI_ARRAY_DIMENSION).a(a).a("2").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(2));
}

// Every subscript is checked against its own dimension: a last subscript
// beyond its row never reaches the next row or the dimension word.
TEST_F(Arrays, EverySubscriptCheckedAgainstItsDimension) {
  Ref a = two_by_three();
  struct {
    int i, j, bad;
  } cases[] = {{2, 0, 2}, {0, 3, 3}, {0, 5, 5}, {0, -1, -1}, {1, 3, 3}, {-1, 2, -1}};
  for (auto& c : cases) {
    EXPECT_EQ(LIST_ERROR(aref(a, c.i, c.j)), E_WRONG_TYPE) << c.i << " " << c.j;
    EXPECT_EQ(ErrorTrap::object, make_fixnum(c.bad));
    EXPECT_EQ(show(Call(BI_ARRAY_IN_BOUNDS_P).a(a).a(make_fixnum(c.i)).a(make_fixnum(c.j)).run()),
              "NIL");
  }
  EXPECT_EQ(show(Call(BI_ARRAY_IN_BOUNDS_P).a(a).a("1").a("2").run()), "T");
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(a).a("0").a("X").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_ARRAY_IN_BOUNDS_P).a(a).a("0").a("X").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(Call(BI_ARRAY_IN_BOUNDS_P).a(a).a("0").a("9999999999").run()), "NIL");
}

TEST_F(Arrays, SubscriptCountMustMatchTheRank) {
  Ref a = two_by_three();
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(a).a("1").run()), E_FEW_SUBSCRIPTS);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(1));
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(a).a("1").a("1").a("7").run()), E_MANY_SUBSCRIPTS);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(7));
  Ref s = push_datum("\"abc\"");
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(s).run()), E_FEW_SUBSCRIPTS);
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(s).a("0").a("0").run()), E_MANY_SUBSCRIPTS);
  EXPECT_EQ(Call(BI_AREF).a(s).a("2").run(), make_char('c'));
}

TEST_F(Arrays, StoresByRowMajorIndexAndBySubscripts) {
  Ref a = two_by_three();
  EXPECT_EQ(show(Call(BI_ASET).a(a).a("X").a("1").a("1").run()), "X");
  EXPECT_EQ(show(Call(BI_ROW_MAJOR_AREF).a(a).a("4").run()), "X");
  EXPECT_EQ(LIST_ERROR(Call(BI_ROW_MAJOR_AREF).a(a).a("6").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(6));
  EXPECT_EQ(LIST_ERROR(Call(BI_ROW_MAJOR_AREF).a("(1)").a("0").run()), E_WRONG_TYPE);

  Ref s = push_datum("\"abc\"");
  Call(BI_SET_ROW_MAJOR_AREF).a(s).a("0").a(make_char('z')).run();
  Call(BI_ASET).a(s).a(make_char('y')).a("1").run();
  EXPECT_EQ(show(s), "\"zyc\"");
  // A string holds plain characters only.
  EXPECT_EQ(LIST_ERROR(Call(BI_ASET).a(s).a("7").a("1").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(7));
  EXPECT_EQ(LIST_ERROR(Call(BI_SET_ROW_MAJOR_AREF).a(s).a("0").a(make_char('a') | 0x200).run()),
            E_WRONG_TYPE);
}

// The checked accessors report the position of the faulty argument.
TEST_F(Arrays, SvrefReportsArgumentPositions) {
  Ref v = push_datum("#(A B C)");
  EXPECT_EQ(show(Call(BI_SVREF).a(v).a("2").run()), "C");
  EXPECT_EQ(show(Call(BI_SET_SVREF).a(v).a("0").a("Z").run()), "Z");
  EXPECT_EQ(show(v), "#(Z B C)");
  EXPECT_EQ(LIST_ERROR(Call(BI_SVREF).a("(1 2)").a("0").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(1));
  EXPECT_EQ(LIST_ERROR(Call(BI_SVREF).a(v).a("3").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(2));
  EXPECT_EQ(LIST_ERROR(Call(BI_SET_SVREF).a(v).a("-1").a("Z").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(2));
}

TEST_F(Arrays, RankZeroAndEmptyArrays) {
  Ref z = hold(Call(BI_MAKE_ARRAY).a("NIL").kw(FS_INITIAL_ELEMENT, make_fixnum(7)).run());
  EXPECT_EQ(show(Call(BI_ARRAY_RANK).a(z).run()), "0");
  EXPECT_EQ(show(Call(BI_ARRAY_TOTAL_SIZE).a(z).run()), "1");
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSIONS).a(z).run()), "NIL");
  EXPECT_EQ(show(Call(BI_AREF).a(z).run()), "7");
  Ref e = hold(Call(BI_MAKE_ARRAY).a("(5 0)").run());
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSIONS).a(e).run()), "(5 0)");
  EXPECT_EQ(LIST_ERROR(Call(BI_AREF).a(e).a("0").a("0").run()), E_WRONG_TYPE);
  // A zero among the stored dimensions leaves nothing to divide the total
  // by: the last dimension reads as 0 instead of trapping.
  Ref f = hold(Call(BI_MAKE_ARRAY).a("(0 5)").run());
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSIONS).a(f).run()), "(0 0)");
  EXPECT_EQ(show(Call(BI_ARRAY_IN_BOUNDS_P).a(f).a("0").a("0").run()), "NIL");
}

TEST_F(Arrays, MakeArrayRefusesBadDimensions) {
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("-1").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(-1));
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(2 -3)").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(-3));
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(2 X)").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(2 . 3)").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("4194304").run()), E_TOO_LARGE);
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(2048 2048)").run()), E_TOO_LARGE);
  EXPECT_EQ(show(ErrorTrap::object), "4194304");
  // Products that overflow 32 or 64 bits are refused, not wrapped to a small total.
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(65536 65536 65536 65536 65536 16)").run()),
            E_TOO_LARGE);
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(4096 4096 4096)").run()), E_TOO_LARGE);
  // Rank 129 is too many; 128 is the limit.
  std::string dims = "(";
  for (int i = 0; i < 128; i++) dims += "1 ";
  std::string rank128 = dims + ")", rank129 = dims + "1)";
  EXPECT_EQ(show(Call(BI_ARRAY_RANK).a(Call(BI_MAKE_ARRAY).a(rank128.c_str()).run()).run()), "128");
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a(rank129.c_str()).run()), E_TOO_LARGE);
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("3").kw(FS_ELEMENT_TYPE, make_symbol(FS_FLOAT)).run()),
            E_WRONG_TYPE);
}

TEST_F(Arrays, MakeArrayInitialContents) {
  EXPECT_EQ(show(Call(BI_MAKE_ARRAY).a("3").run()), "#(NIL NIL NIL)");
  EXPECT_EQ(show(Call(BI_MAKE_ARRAY).a("2").kw(FS_INITIAL_ELEMENT, T).run()), "#(T T)");
  Ref list = push_datum("(1 2 3)"), str = push_datum("\"ab\""), v = push_datum("#(X Y)");
  EXPECT_EQ(show(Call(BI_MAKE_ARRAY).a("3").kw(FS_INITIAL_CONTENTS, list).run()), "#(1 2 3)");
  EXPECT_EQ(show(Call(BI_MAKE_ARRAY).a("2").kw(FS_INITIAL_CONTENTS, str).run()), "#(#\\a #\\b)");
  Value copy = Call(BI_MAKE_ARRAY).a("2").kw(FS_INITIAL_CONTENTS, v).run();
  EXPECT_EQ(show(copy), "#(X Y)");
  EXPECT_NE(copy, Value(v));
  Ref bad = push_datum("(1 2)");
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("3").kw(FS_INITIAL_CONTENTS, bad).run()),
            E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, Value(bad));
  // Initial element and initial contents exclude each other: the later is ignored.
  Value both = Call(BI_MAKE_ARRAY)
                   .a("2")
                   .kw(FS_INITIAL_ELEMENT, make_fixnum(9))
                   .kw(FS_INITIAL_CONTENTS, bad)
                   .run();
  EXPECT_EQ(show(both), "#(9 9)");
  EXPECT_EQ(ErrorTrap::warning_code, E_KEY_PAIR);
}

TEST_F(Arrays, MakeArrayOfStringCharacters) {
  auto make = [](const char* dims) {
    return Call(BI_MAKE_ARRAY).a(dims).kw(FS_ELEMENT_TYPE, STRING_CHAR);
  };
  EXPECT_EQ(show(make("3").kw(FS_INITIAL_ELEMENT, make_char('q')).run()), "\"qqq\"");
  Ref hi = push_datum("\"hi\"");
  EXPECT_EQ(show(make("2").kw(FS_INITIAL_CONTENTS, hi).run()), "\"hi\"");
  Ref chars = hold(Call(BI_LIST).a(make_char('o')).a(make_char('k')).run());
  EXPECT_EQ(show(make("2").kw(FS_INITIAL_CONTENTS, chars).run()), "\"ok\"");
  Ref vec = hold(Call(BI_VECTOR).a(make_char('n')).a(make_char('o')).run());
  EXPECT_EQ(show(make("2").kw(FS_INITIAL_CONTENTS, vec).run()), "\"no\"");
  Value s = make("4").run();
  EXPECT_TRUE(is_string(s));
  EXPECT_EQ(Call(BI_ARRAY_ELEMENT_TYPE).a(s).run(), STRING_CHAR);
  EXPECT_EQ(LIST_ERROR(make("2").kw(FS_INITIAL_ELEMENT, make_fixnum(1)).run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(make("3").kw(FS_INITIAL_CONTENTS, chars).run()), E_WRONG_TYPE);
  Ref mixed = hold(Call(BI_LIST).a(make_char('o')).a(make_fixnum(1)).run());
  EXPECT_EQ(LIST_ERROR(make("2").kw(FS_INITIAL_CONTENTS, mixed).run()), E_WRONG_TYPE);
  // Only rank 1 makes a string.
  EXPECT_EQ(LIST_ERROR(make("(2 2)").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, STRING_CHAR);
}

// Nested contents go to the function of symbol 179 with the rank, the
// contents and the new array; without one they are refused before anything
// is allocated.
TEST_F(Arrays, NestedContentsThroughTheFillFunction) {
  sym_set_function(FS_FILL_ARRAY, NIL);
  Ref contents = push_datum("((1 2) (3 4))");
  uint32_t fill_before = zvm.heap_fill;
  EXPECT_EQ(LIST_ERROR(Call(BI_MAKE_ARRAY).a("(2 2)").kw(FS_INITIAL_CONTENTS, contents).run()),
            E_WRONG_TYPE);
  EXPECT_EQ(zvm.heap_fill, fill_before);

  BuiltinRecord saved = zv_builtins[BORROWED_A];
  zv_builtins[BORROWED_A] = BuiltinRecord{record_fill, 2, 3};
  root_push(&fill_seen);
  sym_set_function(FS_FILL_ARRAY, make_builtin(2, BORROWED_A));
  Value a = Call(BI_MAKE_ARRAY).a("(2 2)").kw(FS_INITIAL_CONTENTS, contents).run();
  EXPECT_EQ(show(fill_seen), "(2 ((1 2) (3 4)) " + show(a) + ")");
  EXPECT_EQ(car(cdr(cdr(fill_seen))), a);
  sym_set_function(FS_FILL_ARRAY, NIL);
  root_pop();
  fill_seen = NIL;
  zv_builtins[BORROWED_A] = saved;
}

TEST_F(Arrays, VectorAndAppend) {
  EXPECT_EQ(show(Call(BI_VECTOR).run()), "#()");
  Ref v = hold(Call(BI_VECTOR).a("1").a("(2)").a("\"c\"").run());
  EXPECT_EQ(show(v), "#(1 (2) \"c\")");
  // The last heap object grows in place.
  Ref w = hold(Call(BI_VECTOR).a("1").run());
  EXPECT_EQ(Call(BI_VECTOR_APPEND).a("2").a(w).run(), Value(w));
  EXPECT_EQ(show(w), "#(1 2)");
  // Anything behind it: a new vector one longer.
  Ref x = hold(Call(BI_VECTOR).a("1").run());
  push_datum("\"behind\"");
  Value y = Call(BI_VECTOR_APPEND).a("2").a(x).run();
  EXPECT_NE(y, Value(x));
  EXPECT_EQ(show(y), "#(1 2)");
  EXPECT_EQ(show(x), "#(1)");
  EXPECT_EQ(LIST_ERROR(Call(BI_VECTOR_APPEND).a("1").a("\"str\"").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_VECTOR_APPEND).a("1").a(Call(BI_MAKE_ARRAY).a("(1 1)").run()).run()),
            E_WRONG_TYPE);
}

TEST_F(Arrays, Predicates) {
  Ref s = push_datum("\"abc\"");
  Ref v = push_datum("#(1)");
  Ref m = hold(Call(BI_MAKE_ARRAY).a("(1 1)").run());
  EXPECT_EQ(show(Call(BI_VECTORP).a(s).run()), "T");
  EXPECT_EQ(show(Call(BI_VECTORP).a(v).run()), "T");
  EXPECT_EQ(show(Call(BI_VECTORP).a(m).run()), "NIL");
  EXPECT_EQ(show(Call(BI_VECTORP).a("(1)").run()), "NIL");
  EXPECT_EQ(show(Call(BI_ARRAYP).a(m).run()), "T");
  EXPECT_EQ(show(Call(BI_ARRAYP).a("5").run()), "NIL");
  EXPECT_EQ(show(Call(BI_ADJUSTABLE_ARRAY_P).a(s).run()), "NIL");
  EXPECT_EQ(LIST_ERROR(Call(BI_ADJUSTABLE_ARRAY_P).a("(1)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(Call(BI_ARRAY_RANK).a(s).run()), "1");
  EXPECT_EQ(show(Call(BI_ARRAY_DIMENSIONS).a(s).run()), "(3)");
  EXPECT_EQ(show(Call(BI_ARRAY_TOTAL_SIZE).a(s).run()), "3");
  EXPECT_EQ(LIST_ERROR(Call(BI_ARRAY_TOTAL_SIZE).a("X").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_ARRAY_ELEMENT_TYPE).a("7").run()), E_WRONG_TYPE);
}

}  // namespace
