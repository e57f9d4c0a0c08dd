// EQ, EQL, EQUAL, EQUALP and not-EQ, including structures far deeper and
// longer than native recursion could walk.
#include "eval/equality.h"
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

using Equality = EvalTest;

Value make_vector(std::initializer_list<Value> xs) {
  Value v = mem_alloc_vector(uint32_t(xs.size()));
  uint32_t i = 0;
  for (Value x : xs) heap_set_word(v, i++, x);
  return v;
}

Value instance(Value cls) {
  Value x = mem_alloc_object(3, HT_INSTANCE);
  heap_set_word(x, 0, cls);
  heap_set_word(x, 1, NIL);
  heap_set_word(x, 2, NIL);
  return x;
}

Value array_2d(uint32_t rows) {
  Value a = mem_alloc_array(6, 2);
  for (uint32_t i = 0; i < 6; i++) heap_set_word(a, i, make_fixnum(int32_t(i)));
  heap_set_word(a, 6, rows);
  return a;
}

// A list of n fixnums counting down to 1.
Value numbers(int32_t n) {
  Value l = NIL;
  root_push(&l);
  for (int32_t i = 1; i <= n; i++) l = cons(make_fixnum(i), l);
  root_pop();
  return l;
}

TEST_F(Equality, AnnotatedSymbolsAreTheSymbol) {
  Value s = sym("some-symbol");
  Value lexref = (TAG_LEXREF << 24) | (5 << 16) | symbol_index(s);
  Value mark = (TAG_INDEX << 24) | symbol_index(s);
  EXPECT_TRUE(lisp_eq(s, lexref));
  EXPECT_TRUE(lisp_eq(mark, s));
  EXPECT_TRUE(lisp_eql(lexref, mark));
  EXPECT_FALSE(lisp_eq(s, make_keyword(symbol_index(s))));
  Value a = cons(lexref, NIL);
  root_push(&a);
  Value b = cons(s, NIL);
  EXPECT_TRUE(lisp_equal(a, b));
  EXPECT_TRUE(lisp_equalp(b, a));
  root_pop();
  // The built-ins answer the same; not-EQ is the negation.
  EXPECT_EQ(call_function2(sym("eq"), s, lexref), T);
  EXPECT_EQ(call_function2(sym("%neq"), s, lexref), NIL);
  EXPECT_EQ(call_function2(sym("%neq"), s, T), T);
}

TEST_F(Equality, EqlComparesBoxedNumbersByValue) {
  Value d1 = mem_make_double(2.5);
  root_push(&d1);
  Value d2 = mem_make_double(2.5);
  root_push(&d2);
  EXPECT_NE(d1, d2);
  EXPECT_TRUE(lisp_eql(d1, d2));
  EXPECT_FALSE(lisp_eq(d1, d2));
  Value i1 = mem_make_int64_raw(int64_t(1) << 40);
  root_push(&i1);
  Value i2 = mem_make_int64_raw(int64_t(1) << 40);
  root_push(&i2);
  EXPECT_TRUE(lisp_eql(i1, i2));
  // Complex numbers stored separately are different objects.
  Value c1 = mem_make_complex_int(1, 2);
  root_push(&c1);
  Value c2 = mem_make_complex_int(1, 2);
  EXPECT_FALSE(lisp_eql(c1, c2));
  EXPECT_TRUE(lisp_eql(c1, c1));
  // Different representations are never EQL.
  Value one = mem_make_double(1.0);
  EXPECT_FALSE(lisp_eql(make_fixnum(1), one));
  EXPECT_FALSE(lisp_eql(make_char('a'), make_char('A')));
  root_pop(5);
}

TEST_F(Equality, EqualWalksListsAndStringsOnly) {
  EXPECT_EQ(ev("(equal '(1 (2 \"ab\") . 3) '(1 (2 \"ab\") . 3))"), T);
  EXPECT_EQ(ev("(equal '(1 (2 \"ab\")) '(1 (2 \"aB\")))"), NIL);
  EXPECT_EQ(ev("(equal '(1 2) '(1 2 3))"), NIL);
  EXPECT_EQ(ev("(equal \"abc\" \"abc\")"), T);
  EXPECT_EQ(ev("(equal \"abc\" \"ab\")"), NIL);
  EXPECT_EQ(ev("(equal 'a 'a)"), T);
  EXPECT_EQ(ev("(equal 1 1)"), T);
  Value d1 = mem_make_double(0.5);
  root_push(&d1);
  Value d2 = mem_make_double(0.5);
  EXPECT_TRUE(lisp_equal(d1, d2));
  root_pop();
  // Vectors other than strings are equal only when identical.
  Value v1 = make_vector({make_fixnum(1), make_fixnum(2)});
  root_push(&v1);
  Value v2 = make_vector({make_fixnum(1), make_fixnum(2)});
  root_push(&v2);
  EXPECT_FALSE(lisp_equal(v1, v2));
  EXPECT_TRUE(lisp_equal(v1, v1));
  EXPECT_TRUE(lisp_equalp(v1, v2));
  root_pop(2);
}

TEST_F(Equality, EqualComparesInstancesByClassAndSlots) {
  // Every word is filled before the next allocation can collect.
  Value cls = sym("some-class");
  root_push(&cls);
  Value a = instance(cls);
  root_push(&a);
  Value b = instance(cls);
  root_push(&b);
  Value s1 = mem_make_string("slot", 4);
  heap_set_word(a, 2, s1);
  Value s2 = mem_make_string("slot", 4);
  heap_set_word(b, 2, s2);
  EXPECT_TRUE(lisp_equal(a, b));
  Value s3 = mem_make_string("SLOT", 4);
  heap_set_word(b, 2, s3);
  EXPECT_FALSE(lisp_equal(a, b));
  EXPECT_TRUE(lisp_equalp(a, b));
  Value other = sym("other-class");
  heap_set_word(b, 0, other);
  EXPECT_FALSE(lisp_equalp(a, b));
  root_pop(3);
}

TEST_F(Equality, EqualpFoldsCaseAndComparesNumbersByValue) {
  EXPECT_EQ(ev("(equalp \"Hello\" \"hELLO\")"), T);
  EXPECT_EQ(ev("(equalp \"Hello\" \"Help!\")"), NIL);
  // Cyrillic: small io (0xB8) folds to capital io (0xA8), the block by 0x20.
  Value a = mem_make_string("\xB8\xE0", 2);
  root_push(&a);
  Value b = mem_make_string("\xA8\xC0", 2);
  EXPECT_TRUE(lisp_equalp(a, b));
  EXPECT_FALSE(lisp_equal(a, b));
  root_pop();
  EXPECT_TRUE(lisp_equalp(make_char('q'), make_char('Q')));
  // A special key character compares by its low nine bits.
  EXPECT_TRUE(lisp_equalp(make_char(0x13B), make_char(0x13B | 0x200)));
  EXPECT_FALSE(lisp_equalp(make_char(0x13B), make_char(0x3B)));

  Value one = mem_make_double(1.0);
  root_push(&one);
  EXPECT_TRUE(lisp_equalp(make_fixnum(1), one));
  EXPECT_TRUE(lisp_equalp(one, make_fixnum(1)));
  EXPECT_FALSE(lisp_equal(one, make_fixnum(1)));
  Value big = mem_make_int64_raw(int64_t(1) << 40);
  root_push(&big);
  Value bigd = mem_make_double(double(int64_t(1) << 40));
  EXPECT_TRUE(lisp_equalp(big, bigd));
  EXPECT_TRUE(lisp_equalp(bigd, big));
  EXPECT_FALSE(lisp_equalp(make_fixnum(2), one));
  root_pop(2);
}

TEST_F(Equality, EqualpNeedsArraysOfTheSameShape) {
  Value a = array_2d(2);  // 2 x 3
  root_push(&a);
  Value b = array_2d(3);  // 3 x 2
  root_push(&b);
  EXPECT_FALSE(lisp_equalp(a, b));
  heap_set_word(b, 6, 2);
  EXPECT_TRUE(lisp_equalp(a, b));
  heap_set_word(b, 5, make_char('x'));
  EXPECT_FALSE(lisp_equalp(a, b));
  root_pop(2);
}

TEST_F(Equality, LongListsCostNoNativeStack) {
  Value a = numbers(100000);
  root_push(&a);
  Value b = numbers(100000);
  root_push(&b);
  uint16_t septr = zvts->septr;
  EXPECT_TRUE(lisp_equal(a, b));
  EXPECT_TRUE(lisp_equalp(a, b));
  EXPECT_EQ(zvts->septr, septr);
  // The last element differs.
  Value last = a;
  while (cons_p(cdr(last))) last = cdr(last);
  set_car(last, make_fixnum(0));
  EXPECT_FALSE(lisp_equal(a, b));
  root_pop(2);
}

TEST_F(Equality, DeepNestingEndsInStackOverflowNotACrash) {
  // Each level of car nesting leaves one pending cdr pair.
  defspecial("*deep-a*", NIL);  // interned before the lists exist
  defspecial("*deep-b*", NIL);
  Value a = NIL, b = NIL;
  root_push(&a);
  root_push(&b);
  for (int i = 0; i < 20000; i++) {
    a = cons(a, NIL);
    b = cons(b, NIL);
  }
  sym_set_value(idx("*deep-a*"), a);
  sym_set_value(idx("*deep-b*"), b);
  root_pop(2);
  EXPECT_EQ(catching("(equal *deep-a* *deep-b*)"), E_STACK);
  // Moderate nesting compares fine.
  EXPECT_EQ(ev("(equal '((((((1)))))) '((((((1)))))))"), T);
}

}  // namespace
