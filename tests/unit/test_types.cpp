// TYPE-OF, TYPEP, SUBTYPEP, COERCE, DEFTYPE, THE and the type predicates.
#include "builtins/classes.h"
#include "builtins/types.h"
#include "genesis/roots.h"
#include "genesis/static_heap.h"
#include "io/stream.h"
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

using Types = EvalTest;

std::string type_of(Value x) { return show(lisp_type_of(x)); }

bool have(uint32_t n) { return zv_builtins[n].fn != bi_not_implemented; }
bool hash_tables_present() { return have(265); }

// An instance of `cls` with one slot.
Value instance_of(Value cls) {
  Value x = mem_alloc_object(2, HT_INSTANCE);
  heap_set_word(x, 0, cls);
  heap_set_word(x, 1, NIL);
  return x;
}

TEST_F(Types, TypeOfEveryKindOfValue) {
  Value s = sym("some-symbol");
  EXPECT_EQ(type_of(NIL), "NULL");
  EXPECT_EQ(type_of(ev("'(1)")), "CONS");
  EXPECT_EQ(type_of(s), "SYMBOL");
  // Annotated symbols are the symbol; so is a keyword.
  EXPECT_EQ(type_of((TAG_LEXREF << 24) | (3 << 16) | symbol_index(s)), "SYMBOL");
  EXPECT_EQ(type_of((TAG_INDEX << 24) | symbol_index(s)), "SYMBOL");
  EXPECT_EQ(type_of(make_keyword(symbol_index(s))), "SYMBOL");
  EXPECT_EQ(type_of(make_fixnum(-8388608)), "FIXNUM");
  Value big = mem_make_integer(8388608);
  EXPECT_EQ(type_of(big), "BIGNUM");
  EXPECT_EQ(type_of(mem_make_double(1.5)), "FLOAT");
  EXPECT_EQ(type_of(mem_make_complex_int(1, 2)), "COMPLEX");
  EXPECT_EQ(type_of(make_char('a')), "STRING-CHAR");
  EXPECT_EQ(type_of(make_char('a' | 0x200)), "CHARACTER");
  EXPECT_EQ(type_of(mem_make_string("ab", 2)), "STRING");
  Value v = mem_alloc_vector(1);
  heap_set_word(v, 0, NIL);
  EXPECT_EQ(type_of(v), "VECTOR");
  Value a = mem_alloc_array(4, 2);
  for (uint32_t i = 0; i < 4; i++) heap_set_word(a, i, NIL);
  heap_set_word(a, 4, 2);
  EXPECT_EQ(type_of(a), "ARRAY");
  EXPECT_EQ(type_of(gen_make_hash_table(8, 75)), "HASH-TABLE");
  EXPECT_EQ(type_of(make_string_output_stream()), "STREAM");
  // Built-ins: a function is a compiled function, other kinds are
  // reported as themselves.
  EXPECT_EQ(type_of(sym_function(idx("car"))), "COMPILED-FUNCTION");
  Value special = sym_function(idx("if"));
  EXPECT_EQ(lisp_type_of(special), special);
  // An instance by its class's name, or the class when it has none; a
  // class by its metaclass's name.
  Value cls = fixed_class(0x288);
  EXPECT_EQ(type_of(instance_of(cls)), "STANDARD-OBJECT");
  EXPECT_EQ(type_of(fixed_class(FIXED_CLASS_CONS)), "BUILT-IN-CLASS");
  EXPECT_EQ(type_of(fixed_class(FIXED_CLASS_STANDARD)), "STANDARD-CLASS");
}

TEST_F(Types, BasicPredicates) {
  EXPECT_EQ(ev("(atom nil)"), T);
  EXPECT_EQ(ev("(atom '(1))"), NIL);
  EXPECT_EQ(ev("(consp '(1))"), T);
  EXPECT_EQ(ev("(consp nil)"), NIL);
  EXPECT_EQ(ev("(listp nil)"), T);
  EXPECT_EQ(ev("(listp 1)"), NIL);
  EXPECT_EQ(ev("(%nlistp 1)"), T);
  EXPECT_EQ(ev("(%nlistp nil)"), NIL);
  EXPECT_EQ(ev("(null nil)"), T);
  EXPECT_EQ(ev("(null 'a)"), NIL);
  EXPECT_EQ(ev("(%always-t nil)"), T);
  EXPECT_EQ(ev("(%sequencep \"abc\")"), T);
  EXPECT_EQ(ev("(%sequencep nil)"), T);
  EXPECT_EQ(ev("(%sequencep 'a)"), NIL);
  Value big = mem_make_integer(int64_t(1) << 30);
  EXPECT_EQ(call_function1(make_builtin(2, BI_BIGNUMP), big), T);
  EXPECT_EQ(call_function1(make_builtin(2, BI_BIGNUMP), make_fixnum(1)), NIL);
  EXPECT_EQ(call_function1(make_builtin(2, BI_FIXNUMP), make_fixnum(1)), T);
  EXPECT_EQ(call_function1(make_builtin(2, BI_FIXNUMP), NIL), NIL);
}

TEST_F(Types, TypepWithClassesAndCompoundSpecifiers) {
  Value list = ev("'(1 2)");
  root_push(&list);
  EXPECT_TRUE(lisp_typep(list, fixed_class(FIXED_CLASS_CONS)));
  EXPECT_TRUE(lisp_typep(list, fixed_class(0x1C8)));  // LIST
  EXPECT_TRUE(lisp_typep(NIL, fixed_class(FIXED_CLASS_NULL)));
  EXPECT_FALSE(lisp_typep(list, fixed_class(FIXED_CLASS_SYMBOL)));
  EXPECT_TRUE(lisp_typep(make_fixnum(1), fixed_class(FIXED_CLASS_T)));
  root_pop();
  // Instances test their class's precedence list; a class object is an
  // instance of its metaclass.
  Value obj = instance_of(fixed_class(0x288));  // STANDARD-OBJECT
  root_push(&obj);
  EXPECT_TRUE(lisp_typep(obj, fixed_class(0x288)));
  EXPECT_TRUE(lisp_typep(obj, fixed_class(FIXED_CLASS_T)));
  EXPECT_FALSE(lisp_typep(obj, fixed_class(FIXED_CLASS_CONS)));
  EXPECT_TRUE(lisp_typep(fixed_class(FIXED_CLASS_CONS), fixed_class(0x2B8)));  // CLASS
  root_pop();

  EXPECT_EQ(ev("(typep 1 '(and))"), T);
  EXPECT_EQ(ev("(typep 1 '(or))"), NIL);
  EXPECT_EQ(ev("(typep 1 '(eql 1))"), T);
  EXPECT_EQ(ev("(typep 'b '(member a b c))"), T);
  EXPECT_EQ(ev("(typep 'd '(member a b c))"), NIL);
  EXPECT_EQ(ev("(typep 'd '(not (member a b c)))"), T);
  EXPECT_EQ(ev("(typep '(1) '(satisfies consp))"), T);
  EXPECT_EQ(ev("(typep '(1) '(and (satisfies consp) (not (eql 3))))"), T);
  EXPECT_EQ(ev("(typep 3 '(or (eql 2) (eql 3)))"), T);
  EXPECT_EQ(catching("(typep 1 nil)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(catching("(typep 1 5)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(catching("(typep 1 '(5))"), E_BAD_TYPE_SPEC);
}

TEST_F(Types, TypepThroughTheTypeTable) {
  if (!hash_tables_present()) GTEST_SKIP() << "hash tables are not in this kernel yet";
  EXPECT_EQ(ev("(typep '(1) 'cons)"), T);
  EXPECT_EQ(ev("(typep nil 'list)"), T);
  EXPECT_EQ(ev("(typep 'a 'symbol)"), T);
  EXPECT_EQ(mv_count(), 1u);  // the table lookup's second value stays inside
  EXPECT_EQ(ev("(typep 'a 'cons)"), NIL);
  if (have(311)) {
    EXPECT_EQ(ev("(typep \"ab\" '(string 2))"), T);
    EXPECT_EQ(ev("(typep \"abc\" '(string 2))"), NIL);
    EXPECT_EQ(catching("(typep \"ab\" '(string x))"), E_BAD_TYPE_SPEC);
  }
  EXPECT_EQ(catching("(typep 1 'no-such-type)"), E_BAD_TYPE_SPEC);
  if (have(233)) {
    EXPECT_EQ(ev("(typep 5 '(integer 1 5))"), T);
    EXPECT_EQ(ev("(typep 6 '(integer 1 5))"), NIL);
    EXPECT_EQ(catching("(typep 5 '(integer 1 x))"), E_BAD_TYPE_SPEC);
  }
}

TEST_F(Types, DeftypeExpandsLikeAMacro) {
  if (!hash_tables_present()) GTEST_SKIP() << "hash tables are not in this kernel yet";
  EXPECT_EQ(show(ev("(deftype pair () '(satisfies consp))")), "PAIR");
  EXPECT_EQ(ev("(typep '(1) 'pair)"), T);
  EXPECT_EQ(mv_count(), 1u);
  EXPECT_EQ(ev("(typep 1 'pair)"), NIL);
  ev("(deftype one-of (&rest xs) \"doc\" (t-cons 'member xs))");
  EXPECT_EQ(ev("(typep 'b '(one-of a b))"), T);
  EXPECT_EQ(ev("(typep 'c '(one-of a b))"), NIL);
  EXPECT_EQ(catching("(deftype)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(deftype 5 ())"), E_WRONG_TYPE);
  // A predefined class cannot be redefined.
  EXPECT_EQ(catching("(deftype cons () 'symbol)"), E_PREDEFINED_TYPE);
  EXPECT_EQ(ev("(typep '(1) 'cons)"), T);
  // A DEFTYPE is replaced (warning only with the header switch).
  zvm.header[HDR_SWITCHES] |= SW_WARN_REDEFINE;
  ev("(deftype pair () '(satisfies symbolp))");
  EXPECT_EQ(Signals::warnings, 1);
  EXPECT_EQ(ev("(typep 'x 'pair)"), T);
  // SUBTYPEP cannot decide about a DEFTYPE.
  Value v = ev("(subtypep 'pair 'symbol)");
  EXPECT_EQ(show_values(v), "NIL NIL");
}

TEST_F(Types, TypeRedefinitionCheck) {
  EXPECT_EQ(ev("(%check-type-redefinition 'whatever 1)"), NIL);
  Value check = make_builtin(2, BI_CHECK_TYPE_REDEFINITION);
  EXPECT_EQ(call_function2(check, sym("whatever"), NO_VALUE), NIL);
  // Predefined classes and predicate types cannot be redefined.
  defspecial("*predefined*", fixed_class(FIXED_CLASS_CONS));
  EXPECT_EQ(catching("(%check-type-redefinition 'whatever *predefined*)"), E_PREDEFINED_TYPE);
  defspecial("*predicate-entry*", NIL);
  Value entry = cons(make_builtin(2, BI_CONSP), NIL);
  sym_set_value(idx("*predicate-entry*"), entry);
  EXPECT_EQ(catching("(%check-type-redefinition 'whatever *predicate-entry*)"), E_PREDEFINED_TYPE);
  // Other definitions pass, with the warning under the header switch.
  zvm.header[HDR_SWITCHES] |= SW_WARN_REDEFINE;
  EXPECT_EQ(ev("(%check-type-redefinition 'whatever '(some list))"), NIL);
  EXPECT_EQ(Signals::warnings, 1);
}

// A program's class may lie anywhere in the heap, also at an offset whose
// low 16 bits are those of a fixed class: it is no fixed class for that.
TEST_F(Types, TypeRedefinitionOfAClassFarUpTheHeap) {
  defspecial("*far-class*", NIL);
  uint32_t s = idx("*far-class*");
  uint32_t cons_class = FIXED_CLASS_CONS;
  // Filler up to the next 64 KiB boundary plus CONS's offset, then the
  // class; a collection in between moves it, so try again.
  bool placed = false;
  for (int tries = 0; tries < 16 && !placed; tries++) {
    uint32_t target = ((zvm.heap_fill + 16 + 0xFFFF) & ~0xFFFFu) + cons_class;
    mem_alloc_bytes(target - zvm.heap_fill - 8);
    Value cls = mem_alloc_object(10, HT_CLASS);
    for (uint32_t i = 0; i < 10; i++) heap_set_word(cls, i, NIL);
    heap_set_word(cls, CW_METACLASS, fixed_class(FIXED_CLASS_STANDARD));
    sym_set_value(s, cls);
    placed = heap_offset(cls) == target;
  }
  ASSERT_TRUE(placed);
  Value cls = sym_value(s);
  EXPECT_EQ(heap_offset(cls) & 0xFFFF, cons_class);
  EXPECT_FALSE(is_fixed_class(cls));
  EXPECT_TRUE(is_fixed_class(fixed_class(FIXED_CLASS_DIRECTORY_ENTRY)));
  EXPECT_EQ(catching("(%check-type-redefinition 'whatever *far-class*)"), 0u);
}

TEST_F(Types, SubtypepWithClasses) {
  Value st = sym("subtypep");
  root_push(&st);
  Value v = call_function2(st, fixed_class(FIXED_CLASS_CONS), fixed_class(0x1C8));  // LIST
  EXPECT_EQ(show_values(v), "T T");
  v = call_function2(st, fixed_class(FIXED_CLASS_CONS), fixed_class(FIXED_CLASS_SYMBOL));
  EXPECT_EQ(show_values(v), "NIL T");
  v = call_function2(st, NIL, fixed_class(FIXED_CLASS_SYMBOL));
  EXPECT_EQ(show_values(v), "T T");
  v = ev("(subtypep '(or a b) 'c)");
  EXPECT_EQ(show_values(v), "NIL NIL");
  v = call_function2(st, fixed_class(FIXED_CLASS_CONS), NIL);
  EXPECT_EQ(show_values(v), "NIL T");
  EXPECT_EQ(catching("(subtypep 5 'c)"), E_BAD_TYPE_SPEC);
  root_pop();
  if (!hash_tables_present()) return;
  v = ev("(subtypep 'cons 'list)");
  EXPECT_EQ(show_values(v), "T T");
  v = ev("(subtypep 'null 'symbol)");
  EXPECT_EQ(show_values(v), "T T");
  v = ev("(subtypep 'symbol 'cons)");
  EXPECT_EQ(show_values(v), "NIL T");
  EXPECT_EQ(catching("(subtypep 'no-such-type 'cons)"), E_BAD_TYPE_SPEC);
}

TEST_F(Types, TheChecksThePrimaryValueOnly) {
  Value v = ev("(the (and) (t-values 1 2))");
  EXPECT_EQ(show_values(v), "1 2");
  v = ev("(the (satisfies consp) '(1))");
  EXPECT_EQ(show(v), "(1)");
  // A mismatch is continuable; continuing keeps the values.
  v = ev("(the (satisfies consp) (t-values 5 6))");
  EXPECT_EQ(Signals::last, E_TYPE_MISMATCH);
  EXPECT_EQ(Signals::cerrors, 1);
  EXPECT_EQ(show_values(v), "5 6");
}

TEST_F(Types, Coerce) {
  for (uint32_t n : {265u, 162u, 230u, 282u, 311u})
    if (!have(n)) GTEST_SKIP() << "built-in " << n << " is not in this kernel yet";
  EXPECT_EQ(show(ev("(coerce \"ab\" 'list)")),
            show(ev("(t-list (coerce 97 'character) (coerce 98 'character))")));
  Value s = ev("(coerce (coerce \"xyz\" 'list) 'string)");
  ASSERT_TRUE(is_string(s));
  EXPECT_EQ(show(s), "\"xyz\"");
  defspecial("*v*", NIL);  // interned before the vector exists
  Value v = ev("(coerce '(1 2) 'vector)");
  ASSERT_TRUE(is_simple_vector(v));
  EXPECT_EQ(heap_word(v, 1), make_fixnum(2));
  sym_set_value(idx("*v*"), v);
  EXPECT_EQ(show(ev("(coerce *v* 'list)")), "(1 2)");
  Value same = ev("(coerce *v* 'vector)");  // already one
  EXPECT_EQ(same, sym_value(idx("*v*")));
  Value d = ev("(coerce 3 'float)");
  ASSERT_EQ(tag_of(d), TAG_DOUBLE);
  EXPECT_EQ(double_value(d), 3.0);
  EXPECT_EQ(ev("(coerce \"a\" 'character)"), make_char('a'));
  // A class stands for its name.
  EXPECT_EQ(show(lisp_type_of(call_function2(sym("coerce"), ev("'(1)"), fixed_class(0x228)))),
            "VECTOR");
  EXPECT_EQ(catching("(coerce '(1) 'string)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(coerce 1 'symbol)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(coerce 1 5)"), E_BAD_TYPE_SPEC);
}

}  // namespace
