// Membership, set operations and the quantifiers BI_EVERY and BI_SOME.
#include <gtest/gtest.h>

#include "list_fixture.h"

using namespace listfx;

namespace {

using Sets = ListTest;

// Whether every cons of `result` is one of the given cells (a list of them,
// taken before the operation relinked anything).
bool made_of(Value result, Value cells) {
  for (; cons_p(result); result = cdr(result)) {
    bool found = false;
    for (Value x = cells; cons_p(x) && !found; x = cdr(x)) found = car(x) == result;
    if (!found) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Without keywords: EQL membership, no calls

TEST_F(Sets, MemberAndAdjoin) {
  EXPECT_EQ(run(BI_MEMBER, "2", "(1 2 3)"), "(2 3)");
  EXPECT_EQ(run(BI_MEMBER, "2.5", "(1 2.5)"), "(2.5)");
  EXPECT_EQ(run(BI_MEMBER, "3", "(1 2 . 3)"), "NIL");
  Ref x = push_datum("(1 2)");
  EXPECT_EQ(Call(BI_ADJOIN).a("1").a(x).run(), x);
  Value r = Call(BI_ADJOIN).a("3").a(x).run();
  EXPECT_EQ(show(r), "(3 1 2)");
  EXPECT_EQ(cdr(r), x);
}

// Results come in the reverse of the order the first list supplies them.
TEST_F(Sets, AccumulatorOrder) {
  EXPECT_EQ(run(BI_INTERSECTION, "(1 2 3)", "(3 2 9)"), "(3 2)");
  EXPECT_EQ(run(BI_SET_DIFFERENCE, "(1 2 3 4)", "(2 4)"), "(3 1)");
  EXPECT_EQ(run(BI_SET_EXCLUSIVE_OR, "(1 2)", "(2 3)"), "(3 1)");
  EXPECT_EQ(run(BI_SET_EXCLUSIVE_OR, "(1 2 5)", "(2 3 4)"), "(4 3 5 1)");
  Ref l2 = push_datum("(2)");
  Value u = Call(BI_UNION).a("(1 4)").a(l2).run();
  EXPECT_EQ(show(u), "(4 1 2)");
  EXPECT_EQ(cdr(cdr(u)), l2);  // the second list is the tail, not a copy
  EXPECT_EQ(run(BI_UNION, "(1 . 4)", "(2 . 5)"), "(1 2 . 5)");  // walks end at dotted tails
}

TEST_F(Sets, Subsetp) {
  EXPECT_EQ(run(BI_SUBSETP, "NIL", "7"), "T");
  EXPECT_EQ(run(BI_SUBSETP, "(1 2)", "(2 3 1)"), "T");
  EXPECT_EQ(run(BI_SUBSETP, "(1 5)", "(2 3 1)"), "NIL");
}

TEST_F(Sets, DestructiveFormsReuseTheirCells) {
  Ref a = push_datum("(1 2 3)");
  Ref a_cells = hold(Call(BI_LIST).a(a).a(cdr(a)).a(cdr(cdr(a))).run());  // LIST of the cells
  Value r = Call(BI_NINTERSECTION).a(a).a("(3 2 9)").run();
  EXPECT_EQ(show(r), "(3 2)");
  EXPECT_EQ(r, car(cdr(cdr(a_cells))));

  Ref b = push_datum("(1 4)");
  Ref b2 = push_datum("(2)");
  Ref b_cells = hold(Call(BI_LIST).a(b).a(cdr(b)).a(b2).run());
  Value u = Call(BI_NUNION).a(b).a(b2).run();
  EXPECT_EQ(show(u), "(4 1 2)");
  EXPECT_TRUE(made_of(u, b_cells));
  EXPECT_EQ(cdr(cdr(u)), b2);

  Ref c = push_datum("(1 2 3 4)");
  Value d = Call(BI_NSET_DIFFERENCE).a(c).a("(2 4)").run();
  EXPECT_EQ(show(d), "(3 1)");
  EXPECT_EQ(cdr(d), c);

  Ref x1 = push_datum("(1 2)");
  Ref x2 = push_datum("(2 3)");
  Ref cells = hold(Call(BI_LIST).a(x1).a(cdr(x1)).a(x2).a(cdr(x2)).run());
  Value x = Call(BI_NSET_EXCLUSIVE_OR).a(x1).a(x2).run();
  EXPECT_EQ(show(x), "(3 1)");
  EXPECT_EQ(x, car(cdr(cdr(cdr(cells)))));
  EXPECT_EQ(cdr(x), car(cells));
}

// Membership is decided on the lists as they were given: when the two
// arguments share cells, relinking one must not change the other's
// answers.
TEST_F(Sets, DestructiveFormsDecideBeforeRelinking) {
  Ref a = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_NINTERSECTION).a(a).a(a).run()), "(3 2 1)");
  Ref b = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_NSET_EXCLUSIVE_OR).a(b).a(cdr(b)).run()), "(1)");
  Ref c = push_datum("(1 2 3)");
  EXPECT_EQ(show(Call(BI_NSET_EXCLUSIVE_OR).a(cdr(c)).a(c).run()), "(1)");
  Ref d = push_datum("(5 6)");
  EXPECT_EQ(show(Call(BI_NSET_EXCLUSIVE_OR).a(d).a(d).run()), "NIL");
  EXPECT_EQ(show(Call(BI_NUNION).a("NIL").a("NIL").run()), "NIL");
}

// ---------------------------------------------------------------------------
// With keywords: the functions are called through the evaluator, in the
// argument order of each member.

TEST_F(Sets, MemberTestOrderAndKey) {
  // test(item, element): 2 < 3 first holds at 3.
  EXPECT_EQ(show(Call(BI_MEMBER).a("2").a("(1 3 0)").kw(FS_TEST, bi_value(BI_NUM_LT)).run()),
            "(3 0)");
  EXPECT_EQ(show(Call(BI_MEMBER).a("2").a("(1 3 0)").kw(FS_TEST_NOT, bi_value(BI_NUM_GT)).run()),
            "(3 0)");
  // The item is not keyed; the elements are.
  EXPECT_EQ(show(Call(BI_MEMBER).a("B").a("((A) (B) (C))").kw(FS_KEY, bi_value(BI_CAR)).run()),
            "((B) (C))");
  EXPECT_EQ(show(Call(BI_MEMBER).a("2").a("(1 2)").kw(FS_KEY, NIL).run()), "(2)");  // :KEY NIL
  EXPECT_EQ(zvts->kwslots[FS_TEST] | zvts->kwslots[FS_TEST_NOT] | zvts->kwslots[FS_KEY], 0);
}

TEST_F(Sets, MemberIf) {
  EXPECT_EQ(show(Call(BI_MEMBER_IF).a(bi_value(BI_CONSP)).a("(1 (2) 3)").run()), "((2) 3)");
  EXPECT_EQ(show(Call(BI_MEMBER_IF_NOT).a(bi_value(BI_CONSP)).a("((1) 2 3)").run()), "(2 3)");
  EXPECT_EQ(show(Call(BI_MEMBER_IF)
                     .a(bi_value(BI_CONSP))
                     .a("((1) ((2)) (3))")
                     .kw(FS_KEY, bi_value(BI_CAR))
                     .run()),
            "(((2)) (3))");
}

// BI_ADJOIN and the set operations key both sides.
TEST_F(Sets, SetOperationsKeyBothSides) {
  Ref x = push_datum("((A . 1) (B . 2))");
  EXPECT_EQ(Call(BI_ADJOIN).a("(A . 9)").a(x).kw(FS_KEY, bi_value(BI_CAR)).run(), x);
  EXPECT_EQ(show(Call(BI_ADJOIN).a("(C . 9)").a(x).kw(FS_KEY, bi_value(BI_CAR)).run()),
            "((C . 9) (A . 1) (B . 2))");
  EXPECT_EQ(show(Call(BI_INTERSECTION)
                     .a("((A . 1) (B . 2) (C . 3))")
                     .a("((C) (A))")
                     .kw(FS_KEY, bi_value(BI_CAR))
                     .run()),
            "((C . 3) (A . 1))");
  EXPECT_EQ(show(Call(BI_SUBSETP).a("(1 2)").a("(3)").kw(FS_TEST, bi_value(BI_NUM_LT)).run()), "T");
  EXPECT_EQ(show(Call(BI_SUBSETP).a("(1 4)").a("(3)").kw(FS_TEST, bi_value(BI_NUM_LT)).run()),
            "NIL");
}

// ---------------------------------------------------------------------------
// Quantifiers

TEST_F(Sets, EveryAndSome) {
  EXPECT_EQ(show(Call(BI_EVERY).a(bi_value(BI_NUM_LT)).a("(1 2 3)").a("(2 3 4)").run()), "T");
  EXPECT_EQ(show(Call(BI_EVERY).a(bi_value(BI_NUM_LT)).a("(1 5 3)").a("(2 3 4)").run()), "NIL");
  EXPECT_EQ(show(Call(BI_EVERY).a(bi_value(BI_CONSP)).a("NIL").run()), "T");
  EXPECT_EQ(show(Call(BI_SOME).a(bi_value(BI_CONSP)).a("(1 2)").run()), "NIL");
  // BI_SOME gives the predicate's own value.
  EXPECT_EQ(show(Call(BI_SOME).a(bi_value(BI_CAR)).a("(NIL (7) (8))").run()), "7");
  // Vectors and strings give their elements; the shortest sequence ends it.
  EXPECT_EQ(show(Call(BI_SOME).a(bi_value(BI_EQ)).a("(A B C)").a("#(X B)").run()), "T");
  EXPECT_EQ(show(Call(BI_EVERY).a(bi_value(BI_EQ)).a("(A B C)").a("#(A B)").run()), "T");
  Ref s = push_datum("\"xy\"");
  EXPECT_EQ(show(Call(BI_SOME).a(bi_value(BI_EQ)).a(s).a("(1 2 3)").run()), "NIL");
  Value chars = Call(BI_LIST).a(make_char('x')).a(make_char('y')).a(make_char('z')).run();
  EXPECT_EQ(show(Call(BI_EVERY).a(bi_value(BI_EQ)).a(chars).a(s).run()), "T");
}

TEST_F(Sets, QuantifiersRejectOtherSequences) {
  EXPECT_EQ(LIST_ERROR(Call(BI_EVERY).a(bi_value(BI_EQ)).a("(1)").a("5").run()), E_WRONG_TYPE);
  EXPECT_EQ(ErrorTrap::object, make_fixnum(5));
  // A 2 x 3 array is not a sequence: its dimension word is never an element.
  Value a = mem_alloc_array(6, 2);
  for (uint32_t i = 0; i < 6; i++) heap_set_word(a, i, NIL);
  heap_set_word(a, 6, 2);
  EXPECT_EQ(LIST_ERROR(Call(BI_SOME).a(bi_value(BI_CONSP)).a(a).run()), E_WRONG_TYPE);
}

}  // namespace
