// Application: lambda-list binding, FUNCALL and APPLY, keyword arguments
// of built-ins, multiple values.
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

TEST_F(EvalTest, OptionalAndSuppliedP) {
  defun("(opt (a &optional (b 'db b-p) c) (t-list a b b-p c))");
  EXPECT_EQ(show(ev("(opt 1)")), "(1 DB NIL NIL)");
  EXPECT_EQ(show(ev("(opt 1 2)")), "(1 2 T NIL)");
  EXPECT_EQ(show(ev("(opt 1 nil 3)")), "(1 NIL T 3)");
  // The second call goes through the annotated list and binds the same.
  EXPECT_EQ(show(ev("(opt 1)")), "(1 DB NIL NIL)");
  Value ll = car(cdr(sym_function(idx("opt"))));
  EXPECT_EQ(tag_of(car(ll)), TAG_LEXREF);      // a lexical parameter
  EXPECT_EQ(tag_of(car(cdr(ll))), TAG_INDEX);  // &OPTIONAL
  // Init forms see the parameters bound before them.
  defun("(chain (a &optional (b (t+ a 1)) &aux (c (t+ b 1)) d) (t-list a b c d))");
  EXPECT_EQ(show(ev("(chain 1)")), "(1 2 3 NIL)");
}

TEST_F(EvalTest, RestAndKeys) {
  defun("(r (a &rest more) (t-list a more))");
  EXPECT_EQ(show(ev("(r 1)")), "(1 NIL)");
  EXPECT_EQ(show(ev("(r 1 2 3)")), "(1 (2 3))");
  defun("(k (&key a (b 'db b-p) ((:c see) 'dc)) (t-list a b b-p see))");
  EXPECT_EQ(show(ev("(k)")), "(NIL DB NIL DC)");
  EXPECT_EQ(show(ev("(k :c 3 :a 1)")), "(1 DB NIL 3)");
  EXPECT_EQ(show(ev("(k :b nil)")), "(NIL NIL T DC)");
  // A keyword given twice: the leftmost value, and no complaint.
  EXPECT_EQ(show(ev("(k :a 1 :a 2)")), "(1 DB NIL DC)");
  EXPECT_EQ(Signals::cerrors, 0);
  defun("(rk (&rest all &key a &allow-other-keys) (t-list a all))");
  EXPECT_EQ(show(ev("(rk :z 1 :a 2)")), "(2 (:Z 1 :A 2))");
  EXPECT_EQ(Signals::cerrors, 0);
}

TEST_F(EvalTest, UnknownKeysAreReportedOnceEach) {
  defun("(k (&key a) a)");
  // Continuing from each report ignores the pair.
  EXPECT_EQ(show(ev("(k :x 1 :a 2 :y 3)")), "2");
  EXPECT_EQ(Signals::cerrors, 2);
  EXPECT_EQ(Signals::last, E_BAD_KEYWORD);
  Signals::cerrors = 0;
  EXPECT_EQ(show(ev("(k :a)")), "NIL");
  EXPECT_EQ(Signals::cerrors, 1);
  EXPECT_EQ(Signals::last, E_KEY_NO_VALUE);
}

TEST_F(EvalTest, ArgumentCountErrors) {
  defun("(two (a b) (t-list a b))");
  EXPECT_EQ(catching("(two 1)"), E_FEW_ARGS);
  // Too many: continuable, the extras are ignored.
  EXPECT_EQ(show(ev("(two 1 2 3)")), "(1 2)");
  EXPECT_EQ(Signals::cerrors, 1);
  EXPECT_EQ(Signals::last, E_MANY_ARGS);
  defun("(bad (a (b)) a)");
  EXPECT_EQ(catching("(bad 1 2)"), E_LAMBDA_LIST);
  defun("(whole (&whole w) w)");
  EXPECT_EQ(catching("(whole)"), E_LAMBDA_LIST);
  // Binding a constant: reported, and the name keeps its constant value.
  defun("(const (t) t)");
  EXPECT_EQ(ev("(const 5)"), T);
  EXPECT_EQ(Signals::last, E_BIND_CONSTANT);
}

TEST_F(EvalTest, FuncallAndApply) {
  EXPECT_EQ(show(ev("(funcall #'t+ 1 2)")), "3");
  EXPECT_EQ(show(ev("(funcall 't-list 1 2 3)")), "(1 2 3)");
  EXPECT_EQ(show(ev("(apply #'t-list 1 2 '(3 4))")), "(1 2 3 4)");
  EXPECT_EQ(show(ev("(apply #'t+ '(1 2))")), "3");
  EXPECT_EQ(show(ev("(apply '(lambda (&rest r) r) '(a b))")), "(A B)");
  EXPECT_EQ(show(ev("(funcall '(lambda . 7))")), "7");
  // A kind-2 built-in through FUNCALL with a surplus argument: reported,
  // then the result for the first arguments.
  EXPECT_EQ(show(ev("(funcall #'t+ 1 2 3)")), "3");
  EXPECT_EQ(Signals::last, E_MANY_ARGS);
  EXPECT_EQ(catching("(funcall #'t+ 1)"), E_FEW_ARGS_CALL);
  EXPECT_EQ(catching("(funcall 'quote 1)"), E_UNDEFINED);
  EXPECT_EQ(catching("(funcall 'no-such-function)"), E_UNDEFINED);
  EXPECT_EQ(show(ev("(functionp 'quote)")), "T");
  EXPECT_EQ(show(ev("(functionp #'progn)")), "NIL");
  EXPECT_EQ(show(ev("(compiled-function-p #'progn)")), "T");
}

TEST_F(EvalTest, FunctionOfABuiltinIsDisplaced) {
  defun("(user (l) (funcall #'t-car l))");
  EXPECT_EQ(show(ev("(user '(1 2))")), "1");
  Value call = car(cdr(cdr(sym_function(idx("user")))));
  EXPECT_TRUE(is_builtin(car(cdr(call))));
  EXPECT_EQ(show(ev("(user '(3))")), "3");
}

TEST_F(EvalTest, KernelCallTakesAnyValue) {
  // The explicit count lets the unbound marker through as an argument.
  defun("(id (x) x)");
  EXPECT_EQ(call_function1(sym("id"), NO_VALUE), NO_VALUE);
  Value args[3] = {make_fixnum(1), make_fixnum(2), make_fixnum(3)};
  EXPECT_EQ(show(call_function(sym("t-list"), 3, args)), "(1 2 3)");
}

TEST_F(EvalTest, BuiltinKeywords) {
  // Through the evaluator and through FUNCALL alike.
  EXPECT_EQ(show_values(ev("(t-keys 0 :end 4 :start 1)")), "1 4 NIL NIL");
  EXPECT_EQ(show_values(ev("(funcall #'t-keys 0 :end 4 :start 1)")), "1 4 NIL NIL");
  // The leftmost of two values wins.
  EXPECT_EQ(show_values(ev("(t-keys 0 :start 1 :start 2)")), "1 NIL NIL NIL");
  EXPECT_EQ(show_values(ev("(funcall #'t-keys 0 :start 1 :start 2)")), "1 NIL NIL NIL");
  EXPECT_EQ(Signals::cerrors, 0);
  // :TEST and :TEST-NOT are exclusive: the later one is ignored.
  EXPECT_EQ(show_values(ev("(t-keys 0 :test 1 :test-not 2)")), "NIL NIL 1 NIL");
  EXPECT_EQ(Signals::last, E_KEY_PAIR);
  Signals::cerrors = 0;
  // A keyword the built-in does not accept; a non-keyword; a keyword
  // without a value.
  EXPECT_EQ(show_values(ev("(t-keys 0 :count 3 :end 2)")), "NIL 2 NIL NIL");
  EXPECT_EQ(show_values(ev("(t-keys 0 5 :end 2)")), "NIL 2 NIL NIL");
  EXPECT_EQ(show_values(ev("(funcall #'t-keys 0 :end)")), "NIL NIL NIL NIL");
  EXPECT_EQ(Signals::cerrors, 3);
  EXPECT_EQ(Signals::last, E_KEY_NO_VALUE);
}

TEST_F(EvalTest, BoundingIndices) {
  uint32_t s = 0, e = 0;
  check_bounds(NIL, NIL, 5, &s, &e);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 5u);
  check_bounds(make_fixnum(2), make_fixnum(5), 5, &s, &e);
  EXPECT_EQ(s, 2u);
  EXPECT_EQ(e, 5u);
  struct Case {
    Value start, end;
    uint32_t code;
  } cases[] = {{make_fixnum(6), NIL, E_BAD_TYPE},
               {make_fixnum(-1), NIL, E_BAD_TYPE},
               {T, NIL, E_BAD_TYPE},
               {make_fixnum(3), make_fixnum(2), E_BOUNDS},
               {NIL, make_fixnum(6), E_BAD_TYPE},
               {NIL, T, E_BAD_TYPE}};
  for (const Case& c : cases) {
    Context cx;
    context_push(&cx, CX_ERRCATCH);
    int code = setjmp(cx.resume);
    if (code == 0) {
      check_bounds(c.start, c.end, 5, &s, &e);
      ADD_FAILURE() << "no error for " << show(c.start) << " " << show(c.end);
    }
    context_pop(&cx);
    EXPECT_EQ(Signals::last, c.code);
  }
}

TEST_F(EvalTest, MultipleValues) {
  EXPECT_EQ(show_values(ev("(t-values 1 2 3)")), "1 2 3");
  EXPECT_EQ(show_values(ev("(t-values)")), "");
  EXPECT_EQ(mv_count(), 0u);
  EXPECT_EQ(show(ev("(t-mvlist (t-values 1 2 3))")), "(1 2 3)");
  EXPECT_EQ(show(ev("(t-mvlist 7)")), "(7)");
  // Through a function return, PROGN, a block and a throw.
  defun("(three () (t-values 'a 'b 'c))");
  EXPECT_EQ(show(ev("(t-mvlist (three))")), "(A B C)");
  EXPECT_EQ(show(ev("(t-mvlist (progn 1 (three)))")), "(A B C)");
  EXPECT_EQ(show(ev("(t-mvlist (block b (return-from b (three))))")), "(A B C)");
  EXPECT_EQ(show(ev("(t-mvlist (catch 'c (throw 'c (three))))")), "(A B C)");
  // Only the last form of a PROGN passes its values.
  EXPECT_EQ(show(ev("(t-mvlist (progn (three) 1))")), "(1)");
}

}  // namespace
