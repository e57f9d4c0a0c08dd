// Conditionals, binding forms, loops, multiple-value forms and the mapping
// functions.
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

using SpecialForms = EvalTest;

TEST_F(SpecialForms, ConditionalsAndTheirValues) {
  EXPECT_EQ(ev("(and)"), T);
  EXPECT_EQ(ev("(or)"), NIL);
  EXPECT_EQ(show(ev("(and 1 2 3)")), "3");
  EXPECT_EQ(show(ev("(and 1 nil 3)")), "NIL");
  EXPECT_EQ(show(ev("(or nil 2 3)")), "2");
  // Only the last form passes its values through.
  Value v = ev("(or (t-values 1 2))");
  EXPECT_EQ(show_values(v), "1 2");
  v = ev("(or (t-values 1 2) 3)");
  EXPECT_EQ(show_values(v), "1");
  v = ev("(and 1 (t-values 4 5))");
  EXPECT_EQ(show_values(v), "4 5");
  v = ev("(and (t-values nil 5) 1)");
  EXPECT_EQ(show_values(v), "NIL");

  EXPECT_EQ(show(ev("(if t 1 2)")), "1");
  EXPECT_EQ(show(ev("(if nil 1 2)")), "2");
  v = ev("(if nil 1)");
  EXPECT_EQ(show_values(v), "NIL");
  // Forms after the then form are not examined when the test holds.
  EXPECT_EQ(show(ev("(if t 1 2 3)")), "1");
  EXPECT_EQ(catching("(if nil 1 2 3)"), E_IF_ELSE);
  EXPECT_EQ(catching("(if t)"), E_FEW_ARGS);

  EXPECT_EQ(show(ev("(cond (nil 1) (2) (t 3))")), "2");
  EXPECT_EQ(show(ev("(cond (nil 1) ((t-eq 1 1) 'a 'b))")), "B");
  EXPECT_EQ(show(ev("(cond (nil 1))")), "NIL");
  EXPECT_EQ(catching("(cond (nil 1) 5)"), E_WRONG_TYPE);

  EXPECT_EQ(show(ev("(case 2 (1 'one) ((2 3) 'two-or-three) (t 'other))")), "TWO-OR-THREE");
  EXPECT_EQ(show(ev("(case 9 (1 'one) (otherwise 'other))")), "OTHER");
  EXPECT_EQ(show(ev("(case 9 (1 'one))")), "NIL");
  // The atom NIL as a key designator matches a NIL key.
  EXPECT_EQ(show(ev("(case nil (nil 'empty) (t 'other))")), "EMPTY");
  EXPECT_EQ(show(ev("(case 'a (nil 'empty) (t 'other))")), "OTHER");
  EXPECT_EQ(catching("(case)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(case 1 5)"), E_WRONG_TYPE);
}

TEST_F(SpecialForms, SequencingKeepsTheRightValue) {
  defspecial("*log*", NIL);
  EXPECT_EQ(show(ev("(prog1 1 (t-setq *log* 'ran) 3)")), "1");
  EXPECT_EQ(show(ev("*log*")), "RAN");
  Value v = ev("(prog1 (t-values 1 2))");
  EXPECT_EQ(show_values(v), "1");
  EXPECT_EQ(show(ev("(prog2 1 2 3)")), "2");
  EXPECT_EQ(catching("(prog1)"), E_FEW_ARGS);
  EXPECT_EQ(catching("(prog2 1)"), E_FEW_ARGS);
}

TEST_F(SpecialForms, LetBindsInParallelAndLetStarInSequence) {
  EXPECT_EQ(show(ev("(let ((x 1) (y 2)) (t-list x y))")), "(1 2)");
  EXPECT_EQ(show(ev("(let (x (y)) (t-list x y))")), "(NIL NIL)");
  EXPECT_EQ(show(ev("(let ((x 1)) (let ((x 2) (y x)) (t-list x y)))")), "(2 1)");
  EXPECT_EQ(show(ev("(let ((x 1)) (let* ((x 2) (y x)) (t-list x y)))")), "(2 2)");
  // Nested bindings of one name: the innermost wins, the outer returns.
  EXPECT_EQ(show(ev("(let ((x 1)) (t-list (let ((x 2)) x) x))")), "(2 1)");
  EXPECT_EQ(catching("(let ((1 2)) 3)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(let)"), E_FEW_ARGS);
  // The same source evaluated at another depth finds its variable again.
  defun("(deep (n) (let ((a n)) (if (t< 0 n) (t-list a (deep (t- n 1))) a)))");
  EXPECT_EQ(show(ev("(deep 2)")), "(2 (1 0))");
  EXPECT_EQ(show(ev("(deep 2)")), "(2 (1 0))");
}

TEST_F(SpecialForms, SpecialVariablesAreRestoredByLet) {
  defspecial("*sp*", make_fixnum(0));
  defun("(read-sp () *sp*)");
  EXPECT_EQ(show(ev("(let ((*sp* 5)) (read-sp))")), "5");
  EXPECT_EQ(show(ev("(let* ((*sp* 6) (y (read-sp))) y)")), "6");
  EXPECT_EQ(sym_value(idx("*sp*")), make_fixnum(0));
  // Also when a throw leaves the body.
  EXPECT_EQ(show(ev("(catch 'x (let ((*sp* 7)) (throw 'x (read-sp))))")), "7");
  EXPECT_EQ(sym_value(idx("*sp*")), make_fixnum(0));
}

TEST_F(SpecialForms, ClosuresShareLoopAndLetVariables) {
  // A closure made in the body sees assignments made after its creation.
  EXPECT_EQ(show(ev("(let ((x 1)) (let ((f #'(lambda () x))) (t-setq x 2) (funcall f)))")), "2");
  EXPECT_EQ(show(ev("(let ((x 1) (fs nil))"
                    "  (dotimes (i 2) (t-setq fs (t-cons #'(lambda () x) fs)))"
                    "  (t-setq x 5)"
                    "  (funcall (t-car fs)))")),
            "5");
}

TEST_F(SpecialForms, LabelsAreDynamicAndRestoredAfterAThrow) {
  defun("(helper () 'global)");
  defun("(call-helper () (helper))");
  EXPECT_EQ(show(ev("(labels ((helper () 'local)) (call-helper))")), "LOCAL");
  EXPECT_EQ(show(ev("(call-helper)")), "GLOBAL");
  // Recursive and mutually recursive definitions.
  EXPECT_EQ(show(ev("(labels ((ev? (n) (if (t-eq n 0) t (od? (t- n 1))))"
                    "         (od? (n) (if (t-eq n 0) nil (ev? (t- n 1)))))"
                    "  (t-list (ev? 4) (od? 4)))")),
            "(T NIL)");
  EXPECT_EQ(show(ev("(catch 'out (labels ((helper () (throw 'out 'thrown))) (call-helper)))")),
            "THROWN");
  EXPECT_EQ(show(ev("(call-helper)")), "GLOBAL");
  EXPECT_EQ(catching("(labels ((1 () 2)) 3)"), E_WRONG_TYPE);
  EXPECT_EQ(show(ev("(call-helper)")), "GLOBAL");
}

TEST_F(SpecialForms, MultipleValueForms) {
  EXPECT_EQ(show(ev("(multiple-value-bind (a b c) (t-values 1 2) (t-list a b c))")), "(1 2 NIL)");
  EXPECT_EQ(show(ev("(multiple-value-bind (a) (t-values 1 2) a)")), "1");
  EXPECT_EQ(show(ev("(multiple-value-bind (a b) 7 (t-list a b))")), "(7 NIL)");
  EXPECT_EQ(show(ev("(multiple-value-bind (a b) (t-values) (t-list a b))")), "(NIL NIL)");
  EXPECT_EQ(catching("(multiple-value-bind (a))"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(multiple-value-bind (a 1) 2 a)"), E_WRONG_TYPE);

  Value v = ev("(let ((a 0) (b 0)) (t-list (multiple-value-setq (a b) (t-values 1 2)) a b))");
  EXPECT_EQ(show(v), "(1 1 2)");
  defspecial("*ms*", NIL);
  EXPECT_EQ(show(ev("(multiple-value-setq (*ms*) (t-values 3 4))")), "3");
  EXPECT_EQ(show(ev("*ms*")), "3");

  EXPECT_EQ(show(ev("(multiple-value-call #'t-list (t-values 1 2) 3 (t-values) (t-values 4 5))")),
            "(1 2 3 4 5)");
  EXPECT_EQ(show(ev("(multiple-value-call 't-list)")), "NIL");
  v = ev("(multiple-value-prog1 (t-values 1 2 3) (t-values 4 5) 6)");
  EXPECT_EQ(show_values(v), "1 2 3");
  v = ev("(multiple-value-prog1 (t-values) 1)");
  EXPECT_EQ(mv_count(), 0u);
}

TEST_F(SpecialForms, DotimesAndDolist) {
  EXPECT_EQ(show(ev("(let ((acc nil)) (dotimes (i 3) (t-setq acc (t-cons i acc))) acc)")),
            "(2 1 0)");
  // The variable ends at the number of passes; a count of 0 runs nothing.
  EXPECT_EQ(show(ev("(dotimes (i 3 i))")), "3");
  EXPECT_EQ(show(ev("(let ((ran nil)) (t-list (dotimes (i 0 i) (t-setq ran t)) ran))")), "(0 NIL)");
  EXPECT_EQ(catching("(dotimes (i 'x))"), E_DOTIMES);
  EXPECT_EQ(show(ev("(let ((acc nil)) (dolist (x '(a b c) acc) (t-setq acc (t-cons x acc))))")),
            "(C B A)");
  EXPECT_EQ(show(ev("(dolist (x '(a b) x))")), "NIL");
  EXPECT_EQ(show(ev("(dolist (x '(1 2 3 4)) (if (t-eq x 3) (return (t-list 'found x))))")),
            "(FOUND 3)");
  EXPECT_EQ(show(ev("(dotimes (i 10) (if (t-eq i 4) (return i)))")), "4");
  // GO to a tag of the body continues there.
  EXPECT_EQ(show(ev("(let ((acc nil))"
                    "  (dolist (x '(1 2 3) acc)"
                    "    (if (t-eq x 2) (go skip))"
                    "    (t-setq acc (t-cons x acc))"
                    "    skip))")),
            "(3 1)");
  // Special loop variables are bound dynamically and restored.
  defspecial("*i*", make_fixnum(-1));
  defun("(read-i () *i*)");
  EXPECT_EQ(show(ev("(let ((acc nil)) (dotimes (*i* 2) (t-setq acc (t-cons (read-i) acc))) acc)")),
            "(1 0)");
  EXPECT_EQ(sym_value(idx("*i*")), make_fixnum(-1));
}

TEST_F(SpecialForms, DoStepsInParallelAndDoStarInSequence) {
  // Each step form sees the other variables of the previous pass.
  EXPECT_EQ(show(ev("(do ((a 1 b) (b 2 a) (n 0 (t+ n 1))) ((t-eq n 3) (t-list a b)))")), "(2 1)");
  EXPECT_EQ(
      show(ev("(do* ((a 1 (t+ b 1)) (b 2 (t+ a 1)) (n 0 (t+ n 1))) ((t-eq n 2) (t-list a b)))")),
      "(5 6)");
  EXPECT_EQ(show(ev("(do ((i 0 (t+ i 1))) ((t-eq i 5) 'never) (if (t-eq i 2) (return 'early)))")),
            "EARLY");
  EXPECT_EQ(show(ev("(let ((n 0)) (do () ((t-eq n 3) n) (t-setq n (t+ n 1))))")), "3");
  EXPECT_EQ(catching("(do)"), E_FEW_ARGS);
  EXPECT_EQ(catching("(do () 5)"), E_WRONG_TYPE);
  // The result forms' values pass through.
  Value v = ev("(do ((i 0 (t+ i 1))) ((t-eq i 1) (t-values 'a 'b)))");
  EXPECT_EQ(show_values(v), "A B");
}

TEST_F(SpecialForms, LoopEndsOnlyByAThrow) {
  EXPECT_EQ(show(ev("(let ((n 0)) (loop (t-setq n (t+ n 1)) (if (t-eq n 5) (return n))))")), "5");
  EXPECT_EQ(show(ev("(catch 'done (loop (throw 'done 'thrown)))")), "THROWN");
  // A GO inside the loop body restarts from the tag.
  EXPECT_EQ(show(ev("(let ((n 0) (acc nil))"
                    "  (loop top (t-setq n (t+ n 1))"
                    "        (if (t< n 3) (go top))"
                    "        (return (t-list n))))")),
            "(3)");
  // The loop leaves the stack as it found it.
  uint16_t septr = zvts->septr;
  ev("(dotimes (i 3) (loop (return)))");
  EXPECT_EQ(zvts->septr, septr);
  EXPECT_EQ(zvts->zvdincxt, 0u);
}

TEST_F(SpecialForms, MappingFunctions) {
  EXPECT_EQ(show(ev("(mapcar #'t+ '(1 2 3) '(10 20))")), "(11 22)");
  EXPECT_EQ(show(ev("(mapcar #'t-car '())")), "NIL");
  EXPECT_EQ(show(ev("(maplist #'t-list '(1 2 3))")), "(((1 2 3)) ((2 3)) ((3)))");
  defspecial("*acc*", NIL);
  EXPECT_EQ(show(ev("(mapc #'(lambda (x) (t-setq *acc* (t-cons x *acc*))) '(1 2 3))")), "(1 2 3)");
  EXPECT_EQ(show(ev("*acc*")), "(3 2 1)");
  EXPECT_EQ(show(ev("(mapl #'(lambda (x) (t-setq *acc* x)) '(4 5))")), "(4 5)");
  EXPECT_EQ(show(ev("*acc*")), "(5)");
  // A closure as the function, and a function that throws out.
  EXPECT_EQ(show(ev("(let ((k 100)) (mapcar #'(lambda (x) (t+ x k)) '(1 2)))")), "(101 102)");
  EXPECT_EQ(show(ev("(catch 'x (mapc #'(lambda (e) (if (t-eq e 2) (throw 'x e))) '(1 2 3)))")),
            "2");
}

TEST_F(SpecialForms, MapOverListsStringsAndVectors) {
  EXPECT_EQ(show(ev("(map 'list #'t-list '(1 2 3) '(a b))")), "((1 A) (2 B))");
  EXPECT_EQ(ev("(map nil #'t-list '(1 2))"), NIL);
  Value s = ev("(map 'string #'(lambda (c) c) \"abc\")");
  ASSERT_TRUE(is_string(s));
  EXPECT_EQ(show(s), "\"abc\"");
  defspecial("*vec*", NIL);  // interned before the vector exists
  Value v = ev("(map 'vector #'t-car '((1) (2)))");
  ASSERT_TRUE(is_simple_vector(v));
  EXPECT_EQ(heap_length(v), 2u);
  EXPECT_EQ(heap_word(v, 1), make_fixnum(2));
  // A vector as a sequence argument.
  sym_set_value(idx("*vec*"), v);
  EXPECT_EQ(show(ev("(map 'list #'t-list *vec* '(a b c))")), "((1 A) (2 B))");
  EXPECT_EQ(catching("(map 'hash #'t-list '(1))"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(map 'list #'t-list 5)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(map 'string #'(lambda (x) x) '(1))"), 0x244Fu);
}

}  // namespace
