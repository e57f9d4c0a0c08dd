// The list built-ins: accessors, constructors, queries, destructive
// operations, association and the tree walks.
#include <gtest/gtest.h>

#include "builtins/list_builder.h"
#include "list_fixture.h"

using namespace listfx;

namespace {

// True when some cons reachable from a is also reachable from b (both
// walked through cars and cdrs; the trees here are small).
bool shares_cons(Value a, Value b) {
  if (!cons_p(a)) return false;
  for (Value x = b; cons_p(x); x = cdr(x)) {
    if (x == a) return true;
    if (cons_p(car(x)) && shares_cons(a, car(x))) return true;
  }
  return shares_cons(car(a), b) || shares_cons(cdr(a), b);
}

using Lists = ListTest;

// ---------------------------------------------------------------------------
// Accessors

// A composed accessor reports the argument it was called with, not the
// intermediate object that was not a list.
TEST_F(Lists, Accessors) {
  const char* tree = "((1 2) (3 4) 5 6)";
  struct Row {
    uint32_t n;
    const char* expect;
  } rows[] = {{93, "(1 2)"}, {94, "1"},     {95, "(3 4)"}, {96, "((3 4) 5 6)"},
              {97, "(2)"},   {98, "(5 6)"}, {100, "3"},    {101, "2"},
              {102, "5"},    {104, "(4)"},  {105, "NIL"},  {106, "(6)"}};
  for (const Row& r : rows) EXPECT_EQ(run(r.n, tree), r.expect) << "built-in " << r.n;
  for (uint32_t n = 93; n <= 106; n++) EXPECT_EQ(run(n, "NIL"), "NIL") << "built-in " << n;
  EXPECT_EQ(LIST_ERROR(Call(BI_CAR).a("5").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(5));
  EXPECT_EQ(LIST_ERROR(Call(BI_CADDR).a("(1 . 2)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "(1 . 2)");
  EXPECT_EQ(LIST_ERROR(Call(BI_CDAAR).a("((1 2) 3)").run()), E_WRONG_TYPE);  // CDAAR
  EXPECT_EQ(show(ErrorTrap::object), "((1 2) 3)");
  EXPECT_EQ(run(BI_ENDP, "NIL"), "T");
  EXPECT_EQ(run(BI_ENDP, "(1)"), "NIL");
  EXPECT_EQ(LIST_ERROR(Call(BI_ENDP).a("A").run()), E_WRONG_TYPE);
}

// ---------------------------------------------------------------------------
// Constructors and copiers

TEST_F(Lists, Constructors) {
  EXPECT_EQ(show(Call(BI_LIST).run()), "NIL");
  EXPECT_EQ(run(BI_LIST, "1", "(2)", "C"), "(1 (2) C)");
  EXPECT_EQ(run(BI_LIST_STAR, "1", "2", "(3 4)"), "(1 2 3 4)");
  Ref x = push_datum("(A B)");
  EXPECT_EQ(Call(BI_LIST_STAR).a(x).run(), x);  // one argument is returned as it is
  EXPECT_EQ(run(BI_ACONS, "K", "V", "((A . 1))"), "((K . V) (A . 1))");
  EXPECT_EQ(run(BI_CONS, "1", "2"), "(1 . 2)");
}

// Every argument but the last is copied; the last is shared.
TEST_F(Lists, AppendAndCopyList) {
  Ref first = push_datum("(1 2)");
  Ref last = push_datum("(3)");
  Value r = Call(BI_APPEND).a(first).a("NIL").a(last).run();
  EXPECT_EQ(show(r), "(1 2 3)");
  EXPECT_NE(r, first);
  EXPECT_EQ(cdr(cdr(r)), last);
  EXPECT_EQ(run(BI_APPEND, "(1)", "A"), "(1 . A)");
  EXPECT_EQ(run(BI_APPEND, "(1 . 2)", "(3)"), "(1 3)");  // the walk ends at the dotted tail
  EXPECT_EQ(show(Call(BI_APPEND).run()), "NIL");
  EXPECT_EQ(LIST_ERROR(Call(BI_APPEND).a("A").a("(1)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "A");
  Ref d = push_datum("(1 2 . 3)");
  Value c = Call(BI_COPY_LIST).a(d).run();
  EXPECT_EQ(show(c), "(1 2 . 3)");
  EXPECT_NE(cdr(c), cdr(d));
  EXPECT_EQ(run(BI_COPY_LIST, "A"), "A");
}

TEST_F(Lists, RevappendAndNreconc) {
  Ref x = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_REVAPPEND).a(x).a("(4)").run()), "(3 2 1 4)");
  EXPECT_EQ(show(x), "(1 2 3)");
  Ref third = hold(cdr(cdr(x)));
  Value r = Call(BI_NRECONC).a(x).a("(4)").run();
  EXPECT_EQ(show(r), "(3 2 1 4)");
  EXPECT_EQ(r, third);  // the cells are reused
  EXPECT_EQ(LIST_ERROR(Call(BI_REVAPPEND).a("5").a("NIL").run()), E_WRONG_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_NRECONC).a("5").a("NIL").run()), E_WRONG_TYPE);
}

// ---------------------------------------------------------------------------
// Queries

TEST_F(Lists, LengthNthNthcdr) {
  EXPECT_EQ(run(BI_LIST_LENGTH, "(1 2 . 3)"), "2");
  EXPECT_EQ(run(BI_LIST_LENGTH, "T"), "0");
  EXPECT_EQ(run(BI_NTH, "5", "(A B)"), "NIL");
  EXPECT_EQ(run(BI_NTH, "-1", "(A B)"), "A");
  EXPECT_EQ(run(BI_NTH, "1099511627776", "(A B)"), "NIL");  // 2^40: beyond the list
  EXPECT_EQ(run(BI_NTHCDR, "1", "(A B . C)"), "(B . C)");
  EXPECT_EQ(run(BI_NTHCDR, "9", "(A B . C)"), "C");
  EXPECT_EQ(LIST_ERROR(Call(BI_NTH).a("A").a("(1)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "A");
  EXPECT_EQ(LIST_ERROR(Call(BI_NTHCDR).a("0").a("5").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(5));
}

TEST_F(Lists, Last) {
  Ref x = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_LAST).a(x).run()), "(3)");
  EXPECT_EQ(show(Call(BI_LAST).a(x).a("2").run()), "(2 3)");
  EXPECT_EQ(show(Call(BI_LAST).a(x).a("0").run()), "NIL");
  EXPECT_EQ(Call(BI_LAST).a(x).a("10").run(), x);
  EXPECT_EQ(run(BI_LAST, "(1 2 . 3)"), "(2 . 3)");
  EXPECT_EQ(run(BI_LAST, "NIL"), "NIL");
  EXPECT_EQ(LIST_ERROR(Call(BI_LAST).a("5").run()), E_BAD_TYPE);
  EXPECT_EQ(LIST_ERROR(Call(BI_LAST).a(x).a("Z").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "Z");
  // A third argument is reported; continuing ignores it.
  ErrorTrap::warnings = 0;
  EXPECT_EQ(show(Call(BI_LAST).a("(1 2 3)").a("2").a("Q").run()), "(2 3)");
  EXPECT_EQ(ErrorTrap::warning_code, E_MANY_ARGS);
  EXPECT_EQ(show(Call(BI_BUTLAST).a("(1 2 3)").a("1").a("Q").run()), "(1 2)");
  EXPECT_EQ(ErrorTrap::warnings, 2);
}

TEST_F(Lists, MembershipAndAssociationWithoutKeywords) {
  EXPECT_EQ(run(BI_MEMBER_EQL, "1.5", "(1 1.5)"), "(1.5)");  // BI_EQL compares doubles by value
  EXPECT_EQ(run(BI_MEMBER_EQL, "4", "(1 2 . 4)"), "NIL");
  EXPECT_EQ(run(BI_ASSOC, "2", "((1 . A) X (2 . B))"), "(2 . B)");
  EXPECT_EQ(run(BI_ASSOC, "4294967296", "((4294967296 . BIG))"), "(4294967296 . BIG)");
  EXPECT_EQ(run(BI_ASSQ, "B", "(A (A . 1) (B . 2))"), "(B . 2)");
  EXPECT_EQ(run(BI_ASSQ, "1.5", "((1.5 . X))"), "NIL");  // identity, not value
}

// test(item, key(car)) in that order: with <, the first car above 2.
TEST_F(Lists, AssocWithKeywords) {
  const char* alist = "((1 . A) X (3 . B))";
  EXPECT_EQ(show(Call(BI_ASSOC).a("2").a(alist).kw(FS_TEST, bi_value(BI_NUM_LT)).run()), "(3 . B)");
  EXPECT_EQ(
      show(Call(BI_ASSOC).a("2").a("((1 . A) X (2 . B))").kw(FS_TEST_NOT, bi_value(BI_EQL)).run()),
      "(1 . A)");
  EXPECT_EQ(
      show(Call(BI_ASSOC).a("1").a("(((2) . A) ((1) . B))").kw(FS_KEY, bi_value(BI_CAR)).run()),
      "((1) . B)");
  EXPECT_EQ(show(Call(BI_ASSOC).a("3").a(alist).kw(FS_KEY, NIL).run()), "(3 . B)");  // :KEY NIL
  // :TEST with :TEST-NOT: reported, and the one given later is ignored.
  ErrorTrap::warnings = 0;
  EXPECT_EQ(show(Call(BI_ASSOC)
                     .a("2")
                     .a(alist)
                     .kw(FS_TEST, bi_value(BI_NUM_LT))
                     .kw(FS_TEST_NOT, bi_value(BI_NUM_LT))
                     .run()),
            "(3 . B)");
  EXPECT_EQ(ErrorTrap::warnings, 1);
  EXPECT_EQ(ErrorTrap::warning_code, E_KEY_PAIR);
  for (uint16_t slot : zvts->kwslots) EXPECT_EQ(slot, 0);
}

TEST_F(Lists, AssocIfTakesOnlyKey) {
  const char* alist = "((1 . A) 7 ((2) . B))";
  EXPECT_EQ(show(Call(BI_ASSOC_IF).a(bi_value(BI_CONSP)).a(alist).run()), "((2) . B)");
  EXPECT_EQ(show(Call(BI_ASSOC_IF_NOT).a(bi_value(BI_CONSP)).a(alist).run()), "(1 . A)");
  EXPECT_EQ(show(Call(BI_ASSOC_IF_NOT)
                     .a(bi_value(BI_CONSP))
                     .a("(((1) . A))")
                     .kw(FS_KEY, bi_value(BI_CAR))
                     .run()),
            "((1) . A)");
  ErrorTrap::warnings = 0;
  EXPECT_EQ(
      show(Call(BI_ASSOC_IF).a(bi_value(BI_CONSP)).a(alist).kw(FS_TEST, bi_value(BI_EQ)).run()),
      "((2) . B)");
  EXPECT_EQ(ErrorTrap::warning_code, E_BAD_KEYWORD);
}

// ---------------------------------------------------------------------------
// Destructive operations

TEST_F(Lists, NconcJoinsInPlace) {
  Ref a = push_datum("(1)");
  Value r = Call(BI_NCONC).a("NIL").a(a).a("NIL").a("(2)").run();
  EXPECT_EQ(show(r), "(1 2)");
  EXPECT_EQ(r, a);
  EXPECT_EQ(run(BI_NCONC, "NIL", "NIL", "X"), "X");
  EXPECT_EQ(show(Call(BI_NCONC).run()), "NIL");
  // A bad argument stops the join, and what was joined before it stays.
  Ref b = push_datum("(1)");
  EXPECT_EQ(LIST_ERROR(Call(BI_NCONC).a(b).a("(2)").a("Q").a("(3)").run()), E_WRONG_TYPE);
  EXPECT_EQ(show(ErrorTrap::object), "Q");
  EXPECT_EQ(show(b), "(1 2)");
  Ref c = push_datum("(1 . 2)");
  EXPECT_EQ(Call(BI_RPLACA).a(c).a("A").run(), c);
  EXPECT_EQ(Call(BI_RPLACD).a(c).a("B").run(), c);
  EXPECT_EQ(show(c), "(A . B)");
  EXPECT_EQ(LIST_ERROR(Call(BI_RPLACA).a("NIL").a("1").run()), E_WRONG_TYPE);
}

TEST_F(Lists, Butlast) {
  Ref x = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_BUTLAST).a(x).run()), "(1 2)");
  EXPECT_EQ(show(Call(BI_BUTLAST).a(x).a("3").run()), "NIL");
  Value c = Call(BI_BUTLAST).a(x).a("0").run();
  EXPECT_EQ(show(c), "(1 2 3)");
  EXPECT_NE(c, x);
  EXPECT_EQ(show(x), "(1 2 3)");
  EXPECT_EQ(run(BI_BUTLAST, "(1 2 . 3)"), "(1)");
  EXPECT_EQ(LIST_ERROR(Call(BI_BUTLAST).a("A").run()), E_WRONG_TYPE);
}

TEST_F(Lists, NbutlastCutsInPlace) {
  Ref x = push_datum("(1 2 3 4)");
  EXPECT_EQ(Call(BI_NBUTLAST).a(x).a("0").run(), x);
  EXPECT_EQ(Call(BI_NBUTLAST).a(x).a("2").run(), x);
  EXPECT_EQ(show(x), "(1 2)");
  EXPECT_EQ(show(Call(BI_NBUTLAST).a(x).a("2").run()), "NIL");
  EXPECT_EQ(show(x), "(1 2)");
  EXPECT_EQ(LIST_ERROR(Call(BI_NBUTLAST).a(x).a("1.5").run()), E_WRONG_TYPE);
}

// ---------------------------------------------------------------------------
// Tree walks

TEST_F(Lists, SubstReplacesMatchesInFreshCells) {
  Ref tree = push_datum("(A (B A) . A)");
  Value r = Call(BI_SUBST).a("X").a("A").a(tree).run();
  EXPECT_EQ(show(r), "(X (B X) . X)");
  EXPECT_FALSE(shares_cons(r, tree));
  // An equal but distinct list is not BI_EQL to any subtree: an unchanged
  // copy, still fresh.
  Ref t2 = push_datum("(A (A) B)");
  Value r2 = Call(BI_SUBST).a("X").a("(A)").a(t2).run();
  EXPECT_EQ(show(r2), "(A (A) B)");
  EXPECT_FALSE(shares_cons(r2, t2));
  // A matched cons is replaced whole: the very cell inside the tree.
  Ref t3 = push_datum("(1 (2 3) 4)");
  Ref inner = hold(car(cdr(t3)));
  EXPECT_EQ(show(Call(BI_SUBST).a("Y").a(inner).a(t3).run()), "(1 Y 4)");
  EXPECT_EQ(run(BI_SUBST, "X", "NIL", "(1 2)"), "(1 2 . X)");
}

TEST_F(Lists, SublisTakesTheFirstMatchingPair) {
  EXPECT_EQ(run(BI_SUBLIS, "((A . 1) (B . 2) (A . 3))", "(A (B C) . A)"), "(1 (2 C) . 1)");
  EXPECT_EQ(run(BI_SUBLIS, "(Z (C . 9))", "(C D)"), "(9 D)");  // atoms in the alist are skipped
  Ref tree = push_datum("((P) Q)");
  Value r = Call(BI_SUBLIS).a("NIL").a(tree).run();
  EXPECT_EQ(show(r), "((P) Q)");
  EXPECT_FALSE(shares_cons(r, tree));
}

// BI_SUBST calls test(old, subtree), BI_SUBLIS test(subtree, alist key): with
// %MEMBER-BI_EQL as the test only the right order finds anything.
TEST_F(Lists, TreeWalkTestOrderAndKey) {
  EXPECT_EQ(
      show(Call(BI_SUBST).a("X").a("A").a("((A B) C)").kw(FS_TEST, bi_value(BI_MEMBER_EQL)).run()),
      "(X C)");
  EXPECT_EQ(
      show(
          Call(BI_SUBLIS).a("(((A B) . 1))").a("(A C)").kw(FS_TEST, bi_value(BI_MEMBER_EQL)).run()),
      "(1 C)");
  // The key sees every subtree, atoms and NIL included.
  EXPECT_EQ(show(Call(BI_SUBST).a("X").a("NIL").a("(A (B))").kw(FS_KEY, bi_value(BI_CONSP)).run()),
            "(X (X . X) . X)");
  // A matching cons is replaced whole, the root included.
  EXPECT_EQ(show(Call(BI_SUBST).a("X").a("A").a("(A B)").kw(FS_TEST_NOT, bi_value(BI_EQL)).run()),
            "X");
  // An error in the key passes through.
  EXPECT_EQ(
      LIST_ERROR(Call(BI_SUBST).a("X").a("1").a("((1) 2)").kw(FS_KEY, bi_value(BI_CAR)).run()),
      E_WRONG_TYPE);
}

TEST_F(Lists, CopyTreeSharesAtomsOnly) {
  Ref tree = push_datum("((1 . \"s\") #(2) (3 (4)) . 5)");
  Value c = Call(BI_COPY_TREE).a(tree).run();
  EXPECT_EQ(show(c), show(tree));
  EXPECT_FALSE(shares_cons(c, tree));
  EXPECT_EQ(cdr(car(c)), cdr(car(tree)));  // the string is shared
  EXPECT_EQ(run(BI_COPY_TREE, "7"), "7");
}

// Lists long enough that stress mode collects several times inside each
// walk: a cursor that is not rooted reads a moved cell and the copy shows
// it.
TEST_F(Lists, CopiesOfLongerLists) {
  std::string items, reversed, nested;
  for (int i = 0; i < 40; i++) {
    items += (i ? " " : "") + std::to_string(i);
    reversed = std::to_string(i) + (i ? " " : "") + reversed;
    nested += "(" + std::to_string(i) + ") ";
  }
  std::string list = "(" + items + ")", tree = "(" + nested + ". " + items.substr(0, 1) + ")";
  EXPECT_EQ(run(BI_COPY_LIST, list.c_str()), list);
  EXPECT_EQ(run(BI_APPEND, list.c_str(), "(X)"), "(" + items + " X)");
  EXPECT_EQ(run(BI_BUTLAST, list.c_str()), "(" + items.substr(0, items.rfind(' ')) + ")");
  EXPECT_EQ(run(BI_REVAPPEND, list.c_str(), "NIL"), "(" + reversed + ")");
  EXPECT_EQ(run(BI_COPY_TREE, tree.c_str()), tree);
  std::string substituted = tree;
  for (size_t at = 0; (at = substituted.find("(0)", at)) != std::string::npos;)
    substituted.replace(at + 1, 1, "Z");
  substituted.replace(substituted.rfind('0'), 1, "Z");
  EXPECT_EQ(run(BI_SUBST, "Z", "0", tree.c_str()), substituted);
  EXPECT_EQ(run(BI_SUBLIS, "((0 . Z))", tree.c_str()), substituted);
}

// The list builder the list built-ins, the reader and the object system
// share: its roots keep the list whole across collections, close() leaves
// a tail set by hand (a dotted list read), close(end) ends the list.
TEST_F(Lists, ListBuilderKeepsItsListAndItsEnd) {
  ListBuilder b;
  b.open();
  for (int i = 0; i < 40; i++) b.add(make_fixnum(i));
  Value forty = b.close(make_fixnum(-1));
  int n = 0;
  Value l = forty;
  for (; cons_p(cdr(l)); l = cdr(l), n++) EXPECT_EQ(car(l), make_fixnum(n));
  EXPECT_EQ(n, 39);
  EXPECT_EQ(car(l), make_fixnum(39));
  EXPECT_EQ(cdr(l), make_fixnum(-1));

  b.open();
  b.add(make_fixnum(1));
  set_cdr(b.tail, make_fixnum(2));
  EXPECT_EQ(show(b.close()), "(1 . 2)");

  // Empty: the end stands for the list.
  b.open();
  EXPECT_EQ(b.close(), NIL);
  b.open();
  EXPECT_EQ(b.close(make_fixnum(7)), make_fixnum(7));
}

// Stack use of the walks on big data.  No stress mode here: a collection
// per allocation over 300 000 cells would take hours, and the roots of the
// same walks are checked under stress by the small cases above.
class BigLists : public ListTest {
 protected:
  void SetUp() override {
    WorldParams p;
    p.cons_cells = 320000;
    p.heap_bytes = 1 << 20;
    start(p, false);
  }
  // A list of n fixnums, or (with nest) n levels of ((...)) through cars.
  static Value build(uint32_t n, bool nest) {
    Value r = NIL;
    root_push(&r);
    for (uint32_t i = 0; i < n; i++) r = nest ? cons(r, NIL) : cons(make_fixnum(i), r);
    root_pop(1);
    return r;
  }
};

// The walks grow the Lisp stack only through cars: a long list costs one
// entry, so 100 000 elements go through on a stack of 2048 entries.
TEST_F(BigLists, LongListsNeedNoStack) {
  Ref x = hold(build(100000, false));
  uint16_t sp = zvts->septr;
  Ref c = hold(Call(BI_COPY_TREE).a(x).run());
  EXPECT_EQ(show(Call(BI_LIST_LENGTH).a(c).run()), "100000");
  EXPECT_EQ(show(Call(BI_NTH).a(make_fixnum(99999)).a(c).run()), "0");
  Ref s = hold(Call(BI_SUBST).a(make_fixnum(-1)).a(make_fixnum(99994)).a(x).run());
  EXPECT_EQ(show(Call(BI_NTH).a(make_fixnum(5)).a(s).run()), "-1");
  EXPECT_EQ(show(Call(BI_NTH).a(make_fixnum(6)).a(s).run()), "99993");
  EXPECT_EQ(zvts->septr, sp - 2);
}

// Nesting through cars deeper than the stack is error 38, and the entries
// the walk pushed are given back before the error is signalled.
TEST_F(BigLists, DeepNestingIsStackOverflow) {
  static std::jmp_buf jb;
  static uint16_t septr_at_signal;
  Ref deep = hold(build(3000, true));
  uint16_t sp = zvts->septr, form = zvts->zvform;
  uint32_t roots = zvts->root_count;
  ErrorTrap::code = 0;
  zv_error_fn = [](uint32_t code, const Value*) -> Value {
    septr_at_signal = zvts->septr;
    ErrorTrap::code = code;
    std::longjmp(jb, 1);
  };
  if (setjmp(jb) == 0) {
    Call(BI_COPY_TREE).a(deep).run();
    ADD_FAILURE() << "no error";
  }
  zvts->septr = sp;
  zvts->zvform = form;
  zvts->root_count = roots;
  EXPECT_EQ(ErrorTrap::code, E_STACK);
  EXPECT_EQ(septr_at_signal, sp - 2);  // only the frame and the argument remain
  // A nesting that fits goes through.
  Value c = Call(BI_COPY_TREE).a(build(1500, true)).run();
  uint32_t depth = 0;
  for (; cons_p(c); c = car(c)) depth++;
  EXPECT_EQ(depth, 1500u);
}

}  // namespace
