// Symbol cells, definitions and assignment, generated symbols, property
// lists, macros and their expansion, SETF and multiple values.
#include "test_eval_fixture.h"

using namespace evaltest;

namespace {

using Definitions = EvalTest;

std::string name_of(Value s) { return show(sym_name(symbol_index(s))); }

TEST_F(Definitions, DefunMakesFunctionsAndClosures) {
  EXPECT_EQ(show(ev("(defun twice (x) (t+ x x))")), "TWICE");
  EXPECT_EQ(show(ev("(twice 4)")), "8");
  EXPECT_EQ(show(sym_function(idx("twice"))), "(LAMBDA (X) (T+ X X))");
  // Inside a lexical environment the function is a closure over it.
  ev("(let ((k 10)) (defun add-k (x) (t+ x k)))");
  EXPECT_EQ(car(sym_function(idx("add-k"))), make_symbol(FS_LEXICAL_CLOSURE));
  EXPECT_EQ(show(ev("(add-k 1)")), "11");
  // A leading string with forms behind it is documentation, a lone
  // string is the body.
  ev("(defun documented () \"says hello\" 'hello)");
  EXPECT_EQ(show(sym_function(idx("documented"))), "(LAMBDA NIL (QUOTE HELLO))");
  ev("(defun only-doc () \"the value\")");
  EXPECT_EQ(show(ev("(only-doc)")), "\"the value\"");
  EXPECT_EQ(catching("(defun)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(defun 5 ())"), E_WRONG_TYPE);
  // Redefinition warns only with the header switch.
  ev("(defun twice (x) x)");
  EXPECT_EQ(Signals::warnings, 0);
  zvm.header[HDR_SWITCHES] |= SW_WARN_REDEFINE;
  ev("(defun twice (x) (t+ x x))");
  EXPECT_EQ(Signals::warnings, 1);
  ev("(defun brand-new (x) x)");
  EXPECT_EQ(Signals::warnings, 1);
}

TEST_F(Definitions, VariablesConstantsAndParameters) {
  EXPECT_EQ(show(ev("(defvar *dv* 1)")), "*DV*");
  ev("(defvar *dv* 2)");
  EXPECT_EQ(show(ev("*dv*")), "1");
  EXPECT_TRUE(sym_is_special(idx("*dv*")));
  ev("(defvar *unset*)");
  EXPECT_TRUE(sym_is_special(idx("*unset*")));
  EXPECT_EQ(ev("(boundp '*unset*)"), NIL);
  // A DEFVAR'd variable is dynamic: a function sees a LET binding of it.
  ev("(defun read-dv () *dv*)");
  EXPECT_EQ(show(ev("(let ((*dv* 5)) (read-dv))")), "5");

  ev("(defparameter dp 1)");
  ev("(defparameter dp 2)");
  EXPECT_EQ(show(ev("dp")), "2");

  EXPECT_EQ(show(ev("(defconstant +dc+ 5)")), "+DC+");
  EXPECT_TRUE(sym_is_constant(idx("+dc+")));
  // Redefining or assigning a constant: continuable, the value stays.
  ev("(defconstant +dc+ 6)");
  EXPECT_EQ(Signals::cerrors, 1);
  ev("(setq +dc+ 7)");
  ev("(set '+dc+ 8)");
  EXPECT_EQ(Signals::cerrors, 3);
  EXPECT_EQ(show(ev("+dc+")), "5");
  // DEFPARAMETER and DEFVAR leave a constant alone.
  ev("(defparameter +dc+ 9)");
  ev("(defvar +dc+ 9)");
  EXPECT_TRUE(sym_is_constant(idx("+dc+")));
  EXPECT_EQ(show(ev("+dc+")), "5");
}

TEST_F(Definitions, SetqAssignsAndCachesLexicalPlaces) {
  Value f = form("((lambda (a) (setq a 5) a) 1)");
  root_push(&f);
  EXPECT_EQ(show(eval_form(f)), "5");
  // The place in the source became a lexical reference.
  Value setq_form = car(cdr(cdr(car(f))));
  EXPECT_EQ(tag_of(car(cdr(setq_form))), TAG_LEXREF);
  EXPECT_EQ(show(eval_form(f)), "5");
  root_pop();
  EXPECT_EQ(show(ev("(let ((a 1) (b 2)) (t-list (setq a 3 b a) a b))")), "(3 3 3)");
  EXPECT_EQ(ev("(setq)"), NIL);
  ev("(setq global-x 42)");
  EXPECT_EQ(sym_value(idx("global-x")), make_fixnum(42));
  // A place without a form: continuable, assignment stops.
  ev("(setq global-x 1 global-y)");
  EXPECT_EQ(Signals::last, 0x1033u);
  EXPECT_EQ(sym_value(idx("global-x")), make_fixnum(1));
  EXPECT_EQ(catching("(setq 1 2)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(setq :k 2)"), E_WRONG_TYPE);
}

TEST_F(Definitions, PsetqEvaluatesEverythingFirst) {
  EXPECT_EQ(show(ev("(let ((a 1) (b 2)) (psetq a b b a) (t-list a b))")), "(2 1)");
  ev("(setq p1 1 p2 2)");
  EXPECT_EQ(ev("(psetq p1 p2 p2 p1)"), NIL);
  EXPECT_EQ(show(ev("(t-list p1 p2)")), "(2 1)");
  // A closure's variable is assigned through its pair.
  EXPECT_EQ(show(ev("(let ((a 1)) (funcall #'(lambda () (psetq a 9))) a)")), "9");
  EXPECT_EQ(catching("(psetq 1 2)"), E_WRONG_TYPE);
}

TEST_F(Definitions, ProgvBindsDynamicallyForTheBody) {
  defspecial("*pv*", make_fixnum(0));
  ev("(defun read-pv () *pv*)");
  EXPECT_EQ(show(ev("(progv '(*pv* unbound-one) '(5) (t-list (read-pv) (boundp 'unbound-one)))")),
            "(5 NIL)");
  EXPECT_EQ(sym_value(idx("*pv*")), make_fixnum(0));
  EXPECT_EQ(show(ev("(progv '(fresh-pv) '(1 2) (symbol-value 'fresh-pv))")), "1");
  EXPECT_EQ(ev("(boundp 'fresh-pv)"), NIL);
  // Restored after a throw too.
  EXPECT_EQ(show(ev("(catch 'x (progv '(*pv*) '(3) (throw 'x (read-pv))))")), "3");
  EXPECT_EQ(sym_value(idx("*pv*")), make_fixnum(0));
  // A constant is reported and skipped.
  EXPECT_EQ(show(ev("(progv '(t *pv*) '(1 2) (read-pv))")), "2");
  EXPECT_EQ(Signals::cerrors, 1);
  EXPECT_EQ(catching("(progv '(a))"), E_FEW_ARGS);
}

TEST_F(Definitions, SymbolCells) {
  ev("(setq cell-sym 1)");
  EXPECT_EQ(ev("(boundp 'cell-sym)"), T);
  EXPECT_EQ(show(ev("(makunbound 'cell-sym)")), "CELL-SYM");
  EXPECT_EQ(ev("(boundp 'cell-sym)"), NIL);
  EXPECT_EQ(catching("(symbol-value 'cell-sym)"), E_UNBOUND);
  EXPECT_EQ(show(ev("(symbol-value :kw)")), ":KW");
  EXPECT_EQ(show(ev("(set 'cell-sym 3)")), "3");
  EXPECT_EQ(show(ev("(symbol-value 'cell-sym)")), "3");
  EXPECT_EQ(catching("(set :kw 3)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(set 5 3)"), E_WRONG_TYPE);
  // NIL's cells are the template of every new symbol: never written.
  ev("(set nil 3)");
  EXPECT_EQ(Signals::last, E_BIND_CONSTANT);
  EXPECT_EQ(catching("(%set-symbol-function nil 'x)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%putprop nil 'a 1)"), E_WRONG_TYPE);
  EXPECT_TRUE(is_no_value(sym_value(0)));

  EXPECT_EQ(ev("(fboundp 'no-such-function)"), NIL);
  EXPECT_EQ(catching("(symbol-function 'no-such-function)"), E_UNDEFINED);
  ev("(%set-symbol-function 'aliased #'t+)");
  EXPECT_EQ(show(ev("(aliased 1 2)")), "3");
  EXPECT_EQ(ev("(fboundp 'aliased)"), T);
  ev("(fmakunbound 'aliased)");
  EXPECT_EQ(ev("(fboundp 'aliased)"), NIL);
  EXPECT_EQ(ev("(special-operator-p 'if)"), T);
  EXPECT_EQ(ev("(special-operator-p 't+)"), NIL);
  EXPECT_EQ(show(ev("(symbol-name 'abc)")), "\"ABC\"");
  EXPECT_EQ(show(ev("(symbol-name nil)")), "\"NIL\"");
  EXPECT_EQ(ev("(symbolp nil)"), T);
  EXPECT_EQ(ev("(symbolp :k)"), T);
  EXPECT_EQ(ev("(symbolp 1)"), NIL);
  EXPECT_EQ(ev("(keywordp :k)"), T);
  EXPECT_EQ(ev("(keywordp 'k)"), NIL);
  EXPECT_EQ(catching("(symbol-name 1)"), E_WRONG_TYPE);
}

TEST_F(Definitions, PropertyLists) {
  EXPECT_EQ(show(ev("(%putprop 'pl 'color 'red)")), "RED");
  ev("(%putprop 'pl 'size 3)");
  ev("(%putprop 'pl 'color 'blue)");
  EXPECT_EQ(show(ev("(get 'pl 'color)")), "BLUE");
  EXPECT_EQ(show(ev("(get 'pl 'weight 7)")), "7");
  EXPECT_EQ(show(ev("(symbol-plist 'pl)")), "(SIZE 3 COLOR BLUE)");
  EXPECT_EQ(ev("(remprop 'pl 'color)"), T);
  EXPECT_EQ(ev("(remprop 'pl 'color)"), NIL);
  EXPECT_EQ(show(ev("(symbol-plist 'pl)")), "(SIZE 3)");
  ev("(%set-symbol-plist 'pl '(a 1 b 2))");
  EXPECT_EQ(show(ev("(get 'pl 'b)")), "2");

  EXPECT_EQ(show(ev("(getf '(a 1 b 2) 'b)")), "2");
  EXPECT_EQ(show(ev("(getf '(a 1) 'c 'none)")), "NONE");
  EXPECT_EQ(show(ev("(%putf '(a 1) 'c 3)")), "(C 3 A 1)");
  Value v = ev("(%remf '(a 1 b 2) 'a)");
  EXPECT_EQ(show_values(v), "(B 2) T");
  v = ev("(%remf '(a 1 b 2) 'z)");
  EXPECT_EQ(show_values(v), "(A 1 B 2) NIL");
}

TEST_F(Definitions, GeneratedSymbols) {
  // GENTEMP: counter and prefix at offsets 8 and 32, interned, and never a
  // name that exists already.
  store_u32(zvm.memblock + MB_GENTEMP_COUNTER, 5);
  uint32_t gensym_counter = load_u32(zvm.memblock + MB_GENSYM_COUNTER);
  Value g6 = ev("(gentemp \"G\")");
  EXPECT_EQ(name_of(g6), "\"G6\"");
  EXPECT_TRUE(sym_flags(symbol_index(g6)) & SYMF_INTERNED);
  store_u32(zvm.memblock + MB_GENTEMP_COUNTER, 5);
  EXPECT_EQ(name_of(ev("(gentemp)")), "\"G7\"");
  EXPECT_EQ(name_of(ev("(gentemp 20)")), "\"G20\"");
  EXPECT_EQ(load_u32(zvm.memblock + MB_GENSYM_COUNTER), gensym_counter);
  // GENSYM: offsets 4 and 12, uninterned.
  Value u = ev("(gensym \"U\")");
  EXPECT_FALSE(sym_flags(symbol_index(u)) & SYMF_INTERNED);
  EXPECT_EQ(name_of(u), "\"U" + std::to_string(gensym_counter + 1) + "\"");
  EXPECT_EQ(load_u32(zvm.memblock + MB_GENTEMP_COUNTER), 20u);
  EXPECT_EQ(catching("(gensym 'x)"), E_WRONG_TYPE);
  ev("(gensym nil 1)");
  EXPECT_EQ(Signals::last, E_MANY_ARGS);
}

TEST_F(Definitions, InternUninternAndMakeSymbol) {
  Value v = ev("(intern \"BRAND-NEW-NAME\")");
  EXPECT_EQ(show_values(v), "BRAND-NEW-NAME NIL");
  v = ev("(intern \"BRAND-NEW-NAME\")");
  EXPECT_EQ(show_values(v), "BRAND-NEW-NAME T");
  EXPECT_EQ(tag_of(ev("(intern \"KW-NAME\" 'keyword)")), TAG_KEYWORD);
  EXPECT_EQ(catching("(intern \"\")"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(intern 'sym)"), E_WRONG_TYPE);
  // A new symbol shares the string it was made from.
  EXPECT_EQ(ev("(let ((s \"SHARED-NAME\")) (eq s (symbol-name (intern s))))"), T);

  Value old = ev("'doomed");
  root_push(&old);
  EXPECT_EQ(call_function1(sym("unintern"), old), T);
  EXPECT_EQ(call_function1(sym("unintern"), old), NIL);
  // The name left the hash: INTERN makes a different symbol now.
  v = ev("(intern \"DOOMED\")");
  EXPECT_EQ(show_values(v), "DOOMED NIL");
  EXPECT_NE(v, old);
  root_pop();

  Value m = ev("(make-symbol \"LONELY\")");
  EXPECT_FALSE(sym_flags(symbol_index(m)) & SYMF_INTERNED);
  EXPECT_EQ(catching("(make-symbol 'x)"), E_WRONG_TYPE);
  EXPECT_EQ(show(ev("(apropos-list \"propos-LI\")")), "(APROPOS-LIST)");
}

TEST_F(Definitions, DefmacroAndExpansion) {
  EXPECT_EQ(show(ev("(defmacro swap-args (f a b) (t-list f b a))")), "SWAP-ARGS");
  EXPECT_EQ(show(sym_function(idx("swap-args"))), "(MACRO (F A B) (T-LIST F B A))");
  EXPECT_EQ(show(ev("(swap-args t- 1 10)")), "9");
  ev("(defmacro with-doc () \"doc\" ''expanded)");
  EXPECT_EQ(show(sym_function(idx("with-doc"))), "(MACRO NIL (QUOTE (QUOTE EXPANDED)))");
  ev("(defmacro only-string () \"kept\")");
  EXPECT_EQ(show(sym_function(idx("only-string"))), "(MACRO NIL \"kept\")");
  EXPECT_EQ(catching("(defmacro m2)"), E_WRONG_TYPE);

  EXPECT_EQ(show(ev("(macro-function 'swap-args)")), "(MACRO (F A B) (T-LIST F B A))");
  EXPECT_EQ(ev("(macro-function 't+)"), NIL);
  EXPECT_EQ(ev("(macro-function 'setf)"), sym_function(idx("setf")));
  EXPECT_EQ(catching("(macro-function 5)"), E_WRONG_TYPE);

  ev("(defmacro outer-m (x) (t-list 'swap-args 't- x 1))");
  Value v = ev("(macroexpand-1 '(outer-m 5))");
  EXPECT_EQ(show_values(v), "(SWAP-ARGS T- 5 1) T");
  v = ev("(macroexpand '(outer-m 5))");
  EXPECT_EQ(show_values(v), "(T- 1 5) T");
  v = ev("(macroexpand-1 '(t+ 1 2))");
  EXPECT_EQ(show_values(v), "(T+ 1 2) NIL");
  v = ev("(macroexpand 7)");
  EXPECT_EQ(show_values(v), "7 NIL");
  ev("(macroexpand-1 '(t+ 1 2) nil 3)");
  EXPECT_EQ(Signals::last, E_MANY_ARGS);

  // Once per call site.
  defspecial("*count*", make_fixnum(0));
  ev("(defmacro counted (x) (setq *count* (t+ *count* 1)) x)");
  ev("(defun uses-counted (y) (counted y))");
  ev("(uses-counted 1)");
  ev("(uses-counted 2)");
  EXPECT_EQ(sym_value(idx("*count*")), make_fixnum(1));
}

TEST_F(Definitions, SetfOnVariables) {
  EXPECT_EQ(show(ev("(let ((a 0) (b 0)) (setf a 1 b (t+ a 1)) (t-list a b))")), "(1 2)");
  // Plain assignments join into one SETQ with all pairs.
  Value v = ev("(macroexpand-1 '(setf a 1 b 'x c \"s\"))");
  EXPECT_EQ(show(v), "(SETQ A 1 B (QUOTE X) C \"s\")");
  // A value that is not simple goes through the store variable.
  v = ev("(macroexpand-1 '(setf a (f)))");
  EXPECT_EQ(show(v), "(LET* ((%STORE (F))) (SETQ A %STORE))");
  v = ev("(macroexpand-1 '(setf a 1 b (f) c 2))");
  EXPECT_EQ(show(v), "(PROGN (SETQ A 1) (LET* ((%STORE (F))) (SETQ B %STORE)) (SETQ C 2))");
  EXPECT_EQ(show(ev("(macroexpand-1 '(setf))")), "(PROGN)");
  // A marked store variable takes any value form in place.
  ev("(%mark-substitutable %store)");
  v = ev("(macroexpand-1 '(setf a (f)))");
  EXPECT_EQ(show(v), "(SETQ A (F))");
  EXPECT_EQ(catching("(%mark-substitutable 5)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(setf a)"), E_FEW_ARGS_CALL);

  v = ev("(get-setf-expansion 'var)");
  EXPECT_EQ(show_values(v), "NIL NIL (%STORE) (SETQ VAR %STORE) VAR");
}

bool hash_tables_present() { return zv_builtins[BI_GETHASH].fn != bi_not_implemented; }

TEST_F(Definitions, PlaceExpandersFromTheTable) {
  if (!hash_tables_present()) GTEST_SKIP() << "hash tables are not in this kernel yet";
  ev("(defun my-car (x) (t-car x))");
  ev("(defun set-my-car (x v) (rplaca x v) v)");
  // The short form: the updater is called with the arguments and S.
  EXPECT_EQ(show(ev("(defsetf my-car set-my-car)")), "MY-CAR");
  EXPECT_EQ(show(ev("(macroexpand-1 '(setf (my-car x) 5))")), "(SET-MY-CAR X 5)");
  EXPECT_EQ(show(ev("(let ((c (t-cons 1 2))) (setf (my-car c) 9) c)")), "(9 . 2)");
  // In mode 1 arguments that are not simple get temporaries.
  Value v = ev("(get-setf-expansion '(my-car (f 1)))");
  ASSERT_EQ(mv_count(), 5u);
  Value temps = mv_value(v, 0);
  EXPECT_TRUE(cons_p(temps));
  EXPECT_FALSE(sym_flags(symbol_index(car(temps))) & SYMF_INTERNED);
  EXPECT_EQ(show(mv_value(v, 1)), "((F 1))");
  EXPECT_EQ(show(car(mv_value(v, 4))), "MY-CAR");

  // The long form: parameters bound to the safe arguments, the store list
  // bound to S, the body's value the store form.
  ev("(defsetf my-second (lst) (new) (t-list 'set-my-car (t-list 'cdr lst) new))");
  EXPECT_EQ(show(ev("(macroexpand-1 '(setf (my-second '(1)) 4))")),
            "(SET-MY-CAR (CDR (QUOTE (1))) 4)");
  // A variable is not simple: it is bound to a temporary first...
  v = ev("(macroexpand-1 '(setf (my-second y) 4))");
  EXPECT_EQ(car(v), make_symbol(FS_LET_STAR));
  EXPECT_EQ(show(car(cdr(car(car(cdr(v)))))), "Y");
  // ...unless the parameter is marked substitutable.
  ev("(%mark-substitutable lst)");
  EXPECT_EQ(show(ev("(macroexpand-1 '(setf (my-second y) 4))")), "(SET-MY-CAR (CDR Y) 4)");
  EXPECT_EQ(catching("(macroexpand-1 '(setf (my-second) 4))"), E_FEW_ARGS_CALL);

  // DEFINE-SETF-EXPANDER with a symbol shares the other's expander; with
  // no definition it removes it.
  ev("(define-setf-expander my-first my-car)");
  EXPECT_EQ(show(ev("(macroexpand-1 '(setf (my-first x) 1))")), "(SET-MY-CAR X 1)");
  ev("(define-setf-expander my-first)");
  EXPECT_EQ(catching("(macroexpand-1 '(setf (my-first x) 1))"), 0x1040u);
  EXPECT_EQ(catching("(setf (no-such-accessor x) 1)"), 0x1040u);
}

TEST_F(Definitions, ValuesAndValuesList) {
  Value v = ev("(values)");
  EXPECT_EQ(v, NIL);
  EXPECT_EQ(mv_count(), 0u);
  v = ev("(values 1 2 3)");
  EXPECT_EQ(show_values(v), "1 2 3");
  v = ev("(values-list '(1 2 3))");
  EXPECT_EQ(show(v), "1");
  EXPECT_EQ(show_values(v), "1 2 3");
  v = ev("(values-list nil)");
  EXPECT_EQ(mv_count(), 0u);
  EXPECT_EQ(catching("(values-list 5)"), E_WRONG_TYPE);
}

}  // namespace
