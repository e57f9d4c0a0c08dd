// SPECIAL declarations at the head of bodies: the binding forms and
// interpreted functions bind a declared variable dynamically, so a called
// function that reads it freely sees the value; other bindings of the
// same name stay lexical.
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

class Declare : public EvalTest {
 protected:
  void SetUp() override {
    EvalTest::SetUp();
    // As the library defines it: a declaration evaluated as a form is NIL.
    defmacro("(declare (&rest specs) nil)");
    // Free readers of the variables the tests declare.
    for (const char* v : {"a", "b", "c", "d", "e", "g", "h", "i", "j", "k", "m", "n", "p", "q"}) {
      std::string text = std::string("(read-") + v + " () " + v + ")";
      defun(text.c_str());
    }
  }
  bool special(const char* name) { return sym_flags(idx(name)) & SYMF_SPECIAL; }
  bool unbound(const char* name) { return is_no_value(sym_value(idx(name))); }
};

TEST_F(Declare, FunctionParametersAreSeenByCalledFunctions) {
  defun("(f1 (a) (declare (special a)) (read-a))");
  EXPECT_EQ(show(ev("(f1 5)")), "5");
  // The binding was dynamic and is undone; the symbol did not become special.
  EXPECT_TRUE(unbound("a"));
  EXPECT_FALSE(special("a"));
  // The parameter carries the mark, and the declaration ran as a form
  // once and left NIL in the source: later calls bind dynamically still.
  Value fn = sym_function(idx("f1"));
  EXPECT_EQ(tag_of(car(car(cdr(fn)))), uint32_t(TAG_INDEX));
  EXPECT_EQ(car(cdr(cdr(fn))), NIL);
  EXPECT_EQ(show(ev("(f1 6)")), "6");
  // Another function's parameter of the same name is lexical: a closure
  // keeps it, and the reader sees no binding.
  defun("(keep (a) (function (lambda () a)))");
  EXPECT_EQ(show(ev("(t-list (funcall (keep 7)) (f1 8))")), "(7 8)");
  EXPECT_EQ(catching("(let ((a 1)) (read-a))"), E_UNBOUND);

  // Optional, key, aux and supplied-p parameters, after a documentation
  // string; an undeclared parameter beside them stays lexical.
  defun(
      "(f2 (x &optional (b 1) &key ((:cc c) 2 c-p) &aux (d 3)) \"doc\""
      "  (declare (special b c d))"
      "  (t-list x (read-b) (read-c) (read-d) c-p))");
  EXPECT_EQ(show(ev("(f2 0 10 :cc 20)")), "(0 10 20 3 T)");
  EXPECT_EQ(show(ev("(f2 0)")), "(0 1 2 3 NIL)");
  EXPECT_EQ(show(ev("(f2 0)")), "(0 1 2 3 NIL)");
}

TEST_F(Declare, BindingFormsBindDeclaredVariablesDynamically) {
  EXPECT_EQ(show(ev("(let ((e 1) (x 2)) (declare (special e)) (t-list (read-e) x))")), "(1 2)");
  // Other specifiers and several declarations are passed over.
  EXPECT_EQ(show(ev("(let* ((g 4) (h (t+ g 1))) (declare (fixnum g)) (declare (ignore x) "
                    "(special g h)) (t-list (read-g) (read-h)))")),
            "(4 5)");
  EXPECT_EQ(show(ev("(multiple-value-bind (k m) (t-values 7 8) (declare (special k m))"
                    "  (t-list (read-k) (read-m)))")),
            "(7 8)");
  // Loop variables: the passes assign the dynamic binding, even where a
  // lexical variable of the same name encloses the loop.
  EXPECT_EQ(show(ev("(let ((r nil) (p 'outer)) (dolist (p '(1 2) r) (declare (special p))"
                    "  (t-setq r (t-cons (read-p) r))))")),
            "(2 1)");
  EXPECT_EQ(show(ev("(let ((r nil)) (dotimes (q 2 r) (declare (special q))"
                    "  (t-setq r (t-cons (read-q) r))))")),
            "(1 0)");
  for (const char* v : {"e", "g", "h", "k", "m", "p", "q"}) {
    EXPECT_FALSE(special(v)) << v;
    EXPECT_TRUE(unbound(v)) << v;
  }
  // The same forms run again bind dynamically again.
  EXPECT_EQ(show(ev("(let ((e 1) (x 2)) (declare (special e)) (t-list (read-e) x))")), "(1 2)");
}

TEST_F(Declare, AnEnclosingLexicalBindingOfTheNameIsHidden) {
  defun("(read-x () x)");
  EXPECT_EQ(show(ev("(let ((x 1) (y 10)) (t-list (let ((x 2)) (declare (special x))"
                    "  (t-setq y (t+ y 1)) (t-list x y (read-x))) x y))")),
            "((2 11 2) 1 11)");
  // A parameter rebound specially; a closure made inside still sees the
  // other lexical variables and assigns them.
  defun(
      "(f4 (x z) (let ((x (t+ x 1))) (declare (special x))"
      "  (t-list x (read-x) (funcall (function (lambda () (t-setq z (t+ z 1))))) z)))");
  EXPECT_EQ(show(ev("(f4 1 5)")), "(2 2 6 6)");
  EXPECT_EQ(show(ev("(f4 1 5)")), "(2 2 6 6)");
  EXPECT_TRUE(unbound("x"));
}

TEST_F(Declare, DoLoopsAndMacroLambdaLists) {
  const char* loop =
      "(let ((i 'outer)) (do ((i 0 (t+ i 1)) (acc nil (t-cons (read-i) acc)))"
      "  ((t-eq i 3) acc) (declare (special i))))";
  EXPECT_EQ(show(ev(loop)), "(2 1 0)");
  EXPECT_EQ(show(ev("(do* ((j 5 (t- j 1)) (acc nil (t-cons (read-j) acc))) ((t-eq j 3) acc)"
                    "  (declare (special j)))")),
            "(3 4)");
  // A nested destructuring parameter of a macro.
  defmacro("(mac ((n)) (declare (special n)) (t-list 'quote (read-n)))");
  EXPECT_EQ(show(ev("(mac (hello))")), "HELLO");
  EXPECT_TRUE(unbound("i") && unbound("j") && unbound("n"));
}

TEST_F(Declare, ConstantsAndOddDeclarationsAreLeftAlone) {
  uint16_t before = sym_flags(FS_T);
  EXPECT_EQ(show(ev("(let () (declare (special t) (special . 3) 7) 'ok)")), "OK");
  EXPECT_EQ(sym_flags(FS_T), before);
  EXPECT_EQ(catching("(let ((t 1)) (declare (special t)) t)"), E_BIND_CONSTANT);
  // A body that is only a declaration gives NIL; a string alone is the
  // value of a function body, not its documentation.
  EXPECT_EQ(show(ev("(let ((u 1)) (declare (special u)))")), "NIL");
  defun("(only-doc () \"text\")");
  EXPECT_EQ(show(ev("(only-doc)")), "\"text\"");
  // A declaration that is not at the head declares nothing.
  defun("(read-w () w)");
  EXPECT_EQ(catching("(let ((w 1)) w (declare (special w)) (read-w))"), E_UNBOUND);
}

TEST_F(Declare, DynamicBindingsAreUndoneByAThrow) {
  defun("(f3 (a) (declare (special a)) (t-list (read-a) (t-error a)))");
  sym_set_value(idx("a"), make_fixnum(99));
  uint16_t chain = zvts->zvdinenv;
  EXPECT_EQ(catching("(f3 1)"), E_WRONG_TYPE);
  EXPECT_EQ(show(sym_value(idx("a"))), "99");
  EXPECT_EQ(zvts->zvdinenv, chain);
}

}  // namespace
