// Classes, instances and slots: CLASS-OF, instance allocation, class
// registration, slot access with the missing and unbound protocols, the
// initarg built-ins, and instances surviving collections and images.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "builtins/classes.h"
#include "builtins/hash_tables.h"
#include "builtins/types.h"
#include "image/image_file.h"
#include "test_eval_fixture.h"
#include "text/printer.h"

using namespace evaltest;

namespace {

struct Class : EvalTest {
  // The first object of the last error signalled.
  static inline ErrorFn chained = nullptr;
  static inline Value last_object = NIL;
  static Value record(uint32_t code, const Value* objects) {
    last_object = err_object_count(code) ? objects[0] : NIL;
    return chained(code, objects);
  }

  void SetUp() override {
    EvalTest::SetUp();
    chained = zv_error_fn;
    zv_error_fn = record;
    // The protocol functions report how they were called.
    defun("(slot-missing (c o n op &rest more) (t-list 'missing (t-eq c (class-of o)) n op more))");
    defun("(slot-unbound (c o n) (t-list 'unbound (t-eq c (class-of o)) n))");
  }
};

Value g(const char* name) { return sym_value(idx(name)); }
// The symbol is interned before the value is stored: interning allocates.
void set_g(const char* name, Value v) {
  root_push(&v);
  idx(name);
  root_pop();
  defspecial(name, v);
}

// A slot definition as the library makes them: name, location, storage
// (the value of a special variable, or NIL), initargs, initial form cell,
// type; the last three given as text.
Value slot_def(const char* name, int loc, const char* storage, const char* initargs,
               const char* initform = nullptr, const char* type = nullptr) {
  Value parts[6] = {NIL, make_fixnum(loc), NIL, NIL, NIL, NIL};
  for (Value& p : parts) root_push(&p);
  parts[0] = sym(name);
  parts[3] = form(initargs);
  if (initform) parts[4] = form(initform);
  if (type) parts[5] = sym(type);
  if (storage) parts[2] = g(storage);
  Value d = mem_alloc_vector(6);
  for (uint32_t i = 0; i < 6; i++) heap_set_word(d, i, parts[i]);
  root_pop(6);
  return d;
}

// A ten-word class named `name` with the given metaclass, instance size
// and superclasses (names of special variables), stored in the special
// variable `name`.  Its precedence list is itself, the superclasses, T.
void make_class(const char* name, Value meta, uint32_t size,
                std::initializer_list<const char*> supers = {}) {
  Value n = sym(name);  // interned first: it allocates
  root_push(&n);
  Value c = mem_alloc_object(10, HT_CLASS);
  root_pop();
  for (uint32_t i = 0; i < 10; i++) heap_set_word(c, i, NIL);
  heap_set_word(c, CW_METACLASS, meta);
  heap_set_word(c, CW_NAME, n);
  heap_set_word(c, CW_SIZE, make_fixnum(int32_t(size)));
  defspecial(name, c);  // rooted from here on
  Value cpl = cons(fixed_class(FIXED_CLASS_T), NIL);
  root_push(&cpl);
  for (auto it = supers.end(); it != supers.begin();) cpl = cons(g(*--it), cpl);
  cpl = cons(g(name), cpl);
  root_pop();
  heap_set_word(g(name), CW_PRECEDENCE, cpl);
}

void set_class_word(const char* cls, uint32_t word, Value v) { heap_set_word(g(cls), word, v); }

// POINT: a standard class of 4 words with slots X (initarg :X, integer),
// Y (initargs :Y and :WHY, initial form 42) and a shared slot COUNT kept in
// word 0 of the vector in *COUNT-CELL*.
void make_point() {
  make_class("POINT", fixed_class(FIXED_CLASS_STANDARD), 4);
  Value cell = mem_alloc_vector(1);
  heap_set_word(cell, 0, UNBOUND_SLOT);
  set_g("*COUNT-CELL*", cell);
  Value defs = NIL, d = NIL;
  root_push(&defs);
  root_push(&d);
  d = slot_def("COUNT", 0, "*COUNT-CELL*", "(:count)");
  defs = cons(d, defs);
  d = slot_def("Y", 2, nullptr, "(:y :why)", "(42)");
  defs = cons(d, defs);
  d = slot_def("X", 1, nullptr, "(:x)", nullptr, "integer");
  defs = cons(d, defs);
  set_class_word("POINT", CW_SLOTS, defs);
  root_pop(2);
}

std::string ev_show(const char* text) { return show(ev(text)); }

}  // namespace

// ---------------------------------------------------------------------------
// CLASS-OF

TEST_F(Class, ClassOfEveryKindOfValue) {
  struct {
    Value x;
    uint32_t offset;
  } cases[] = {
      {NIL, FIXED_CLASS_NULL},
      {make_fixnum(5), FIXED_CLASS_INTEGER},
      {make_char('a'), FIXED_CLASS_CHARACTER},
      {sym("foo"), FIXED_CLASS_SYMBOL},
      {make_keyword(idx("foo")), FIXED_CLASS_SYMBOL},
      {sym_function(idx("if")), FIXED_CLASS_T},            // special form
      {sym_function(idx("car")), FIXED_CLASS_FUNCTION},    // kind 2
      {sym_function(idx("list")), FIXED_CLASS_FUNCTION},   // kind 3
      {sym_function(idx("assoc")), FIXED_CLASS_FUNCTION},  // kind 4
      {NO_VALUE, FIXED_CLASS_T},
  };
  for (auto& c : cases) EXPECT_EQ(class_of(c.x), fixed_class(c.offset)) << std::hex << c.x;

  // Heap objects, one at a time (each allocation may collect).
  EXPECT_EQ(class_of(ev("'(1)")), fixed_class(FIXED_CLASS_CONS));
  EXPECT_EQ(class_of(mem_make_integer(int64_t(1) << 40)), fixed_class(FIXED_CLASS_INTEGER));
  EXPECT_EQ(class_of(mem_make_double(1.5)), fixed_class(FIXED_CLASS_FLOAT));
  EXPECT_EQ(class_of(mem_make_complex_int(1, 2)), fixed_class(FIXED_CLASS_COMPLEX));
  EXPECT_EQ(class_of(mem_make_string("ab", 2)), fixed_class(FIXED_CLASS_STRING));
  EXPECT_EQ(class_of(mem_alloc_bytes(4)), fixed_class(FIXED_CLASS_T));  // raw block
  Value v = mem_alloc_vector(1);
  heap_set_word(v, 0, NIL);
  EXPECT_EQ(class_of(v), fixed_class(FIXED_CLASS_VECTOR));
  Value a = mem_alloc_array(4, 2);
  for (uint32_t i = 0; i < 4; i++) heap_set_word(a, i, NIL);
  heap_set_word(a, 4, 2);
  EXPECT_EQ(class_of(a), fixed_class(FIXED_CLASS_ARRAY));
  EXPECT_EQ(class_of(make_string_output_stream()), fixed_class(FIXED_CLASS_T));
  EXPECT_EQ(class_of(ht_make(8, HT_TEST_EQL)), fixed_class(FIXED_CLASS_T));

  // Standard objects: word 0, whatever it holds.
  EXPECT_EQ(class_of(fixed_class(FIXED_CLASS_CONS)), fixed_class(FIXED_CLASS_BUILT_IN));
  EXPECT_EQ(class_of(fixed_class(FIXED_CLASS_STANDARD)), fixed_class(FIXED_CLASS_STANDARD));
  make_point();
  EXPECT_EQ(ev("(t-eq (class-of (allocate-instance point)) point)"), T);
  // Through the built-in, a fixnum and a big integer share their class.
  EXPECT_EQ(ev("(t-eq (class-of 5) (class-of 8388608))"), T);
}

// ---------------------------------------------------------------------------
// Allocation

TEST_F(Class, AllocateInstanceSizesAndUnboundWords) {
  make_point();
  Value x = ev("(allocate-instance point 7)");
  ASSERT_EQ(heap_type(x), HT_INSTANCE);
  ASSERT_EQ(heap_length(x), 4u);
  EXPECT_EQ(heap_word(x, 0), g("POINT"));
  EXPECT_EQ(heap_word(x, 1), make_fixnum(7));
  EXPECT_EQ(heap_word(x, 2), UNBOUND_SLOT);
  EXPECT_EQ(heap_word(x, 3), UNBOUND_SLOT);
  // More values than the size: the instance grows to hold them all.
  x = ev("(allocate-instance point 1 2 3 4 5)");
  ASSERT_EQ(heap_length(x), 6u);
  EXPECT_EQ(heap_word(x, 5), make_fixnum(5));
  // A structure class takes its size from the values alone.
  make_class("S", fixed_class(FIXED_CLASS_STRUCTURE), 9);
  EXPECT_EQ(heap_length(ev("(allocate-instance s)")), 1u);
  EXPECT_EQ(heap_length(ev("(allocate-instance s 'a 'b)")), 3u);
  EXPECT_EQ(ev_show("(%object-length (allocate-instance point))"), "4");
}

TEST_F(Class, AllocateInstanceRefusals) {
  make_class("OPEN", fixed_class(FIXED_CLASS_STANDARD), 3);
  set_class_word("OPEN", CW_PRECEDENCE, NIL);  // not finalized
  set_g("*BUILT-IN*", fixed_class(FIXED_CLASS_CONS));
  for (const char* f : {"(allocate-instance 5)", "(allocate-instance open)",
                        "(allocate-instance *built-in*)", "(allocate-instance (allocate-instance"
                                                          " (find-class 'standard-object)))"})
    EXPECT_EQ(catching(f), E_NOT_INSTANTIABLE) << f;
  EXPECT_NE(catching("(allocate-instance)"), 0u);
}

// ---------------------------------------------------------------------------
// Names and registration

TEST_F(Class, NamesAndFindClass) {
  make_point();
  EXPECT_EQ(ev_show("(class-name point)"), "POINT");
  EXPECT_EQ(ev_show("(class-name (class-of 'a))"), "SYMBOL");
  EXPECT_EQ(catching("(class-name 'point)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(class-name (allocate-instance point))"), E_WRONG_TYPE);
  EXPECT_EQ(ev_show("(%set-class-name point 'spot)"), "SPOT");
  EXPECT_EQ(ev_show("(class-name point)"), "SPOT");
  EXPECT_EQ(ev("(%set-class-name point nil)"), NIL);
  EXPECT_EQ(catching("(%set-class-name point 5)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%set-class-name 5 'a)"), E_WRONG_TYPE);
  ev("(%set-class-name point 'point)");

  // The genesis registered every class of the static prefix.
  EXPECT_EQ(ev("(find-class 'cons)"), fixed_class(FIXED_CLASS_CONS));
  EXPECT_EQ(catching("(find-class 'point)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(show(last_object), "POINT");
  EXPECT_EQ(ev("(find-class 'point nil)"), NIL);
  EXPECT_EQ(ev("(find-class 'point nil nil)"), NIL);
  EXPECT_EQ(Signals::cerrors, 1);  // the surplus argument
  EXPECT_EQ(ev("(t-eq (%set-find-class 'point point) point)"), T);
  EXPECT_EQ(ev("(t-eq (find-class 'point) point)"), T);
  EXPECT_EQ(ev("(t-eq (find-class 'point t) point)"), T);
  // A class object is no name: reported by its own name, even when
  // registered.
  EXPECT_EQ(catching("(find-class point)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(show(last_object), "POINT");
  EXPECT_EQ(ev("(find-class point nil)"), NIL);
  EXPECT_EQ(catching("(find-class 5)"), E_BAD_TYPE);
  EXPECT_EQ(catching("(%set-find-class 5 point)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%set-find-class 'point 5)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%set-find-class nil point)"), E_WRONG_TYPE);
  // NIL unregisters a class, and only a class.
  EXPECT_EQ(ev("(%set-find-class 'point nil)"), NIL);
  EXPECT_EQ(ev("(find-class 'point nil)"), NIL);
  Value key = sym("not-a-class");
  root_push(&key);
  Value entry = form("(a b)");
  root_pop();
  root_table_put(ROOT_TYPE_TABLE, key, entry);
  EXPECT_EQ(ev("(find-class 'not-a-class nil)"), NIL);
  ev("(%set-find-class 'not-a-class nil)");
  EXPECT_EQ(show(root_table_get(ROOT_TYPE_TABLE, sym("not-a-class"))), "(A B)");
}

// ---------------------------------------------------------------------------
// Predicates and the object length

TEST_F(Class, PredicatesAndMakeIntoClass) {
  make_point();
  EXPECT_EQ(ev("(%class-finalized-p point)"), T);
  EXPECT_EQ(ev("(%class-finalized-p (allocate-instance point))"), NIL);
  EXPECT_EQ(ev("(%class-finalized-p 'point)"), NIL);
  EXPECT_EQ(ev("(%standard-object-p point)"), T);
  EXPECT_EQ(ev("(%standard-object-p (allocate-instance point))"), T);
  EXPECT_EQ(ev("(%standard-object-p '(1))"), NIL);

  // A class made from Lisp: an instance of the standard class, its words
  // filled by location, then turned into a class.
  set_g("*K*", ev("(allocate-instance (find-class 'standard-class))"));
  EXPECT_EQ(ev_show("(%object-length *k*)"), "10");
  ev("(%set-slot-value *k* 1 'kay)");
  ev("(%set-slot-value *k* 3 2)");
  EXPECT_EQ(ev("(t-eq (%make-into-class *k*) *k*)"), T);
  EXPECT_EQ(heap_type(g("*K*")), HT_CLASS);
  EXPECT_EQ(ev_show("(class-name *k*)"), "KAY");
  EXPECT_EQ(catching("(allocate-instance *k*)"), E_NOT_INSTANTIABLE);  // not finalized
  ev("(%set-slot-value *k* 2 (t-cons *k* nil))");
  EXPECT_EQ(heap_length(ev("(allocate-instance *k*)")), 2u);
  // Making a class of a class changes nothing.
  EXPECT_EQ(ev("(t-eq (%make-into-class *k*) *k*)"), T);
  // Too short to be read as a class, or no standard object at all.
  EXPECT_EQ(catching("(%make-into-class (allocate-instance *k*))"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%make-into-class '(1))"), E_WRONG_TYPE);

  EXPECT_EQ(ev_show("(%object-length \"abc\")"), "3");
  EXPECT_EQ(catching("(%object-length 5)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%object-length '(1 2))"), E_WRONG_TYPE);
}

// ---------------------------------------------------------------------------
// Slots

TEST_F(Class, SlotValueByNameAndLocation) {
  make_point();
  set_g("*P*", ev("(allocate-instance point 3)"));
  EXPECT_EQ(ev_show("(slot-value *p* 'x)"), "3");
  EXPECT_EQ(ev_show("(slot-value *p* 1)"), "3");
  EXPECT_EQ(ev_show("(%set-slot-value *p* 'y 'why)"), "WHY");
  EXPECT_EQ(ev_show("(slot-value *p* 2)"), "WHY");
  EXPECT_EQ(ev_show("(%set-slot-value *p* 3 'three)"), "THREE");
  EXPECT_EQ(ev_show("(slot-value *p* 3)"), "THREE");
  // A shared slot lives in its storage object, seen from every instance.
  ev("(%set-slot-value *p* 'count 10)");
  EXPECT_EQ(heap_word(g("*COUNT-CELL*"), 0), make_fixnum(10));
  EXPECT_EQ(ev_show("(slot-value (allocate-instance point) 'count)"), "10");

  EXPECT_EQ(ev("(slot-exists-p *p* 'y)"), T);
  EXPECT_EQ(ev("(slot-exists-p *p* 'z)"), NIL);
  EXPECT_EQ(ev("(slot-exists-p 5 'y)"), NIL);
  Value def = ev("(%find-slot-definition 'y point)");
  EXPECT_EQ(heap_word(def, SD_LOCATION), make_fixnum(2));
  EXPECT_EQ(ev("(%find-slot-definition 'z point)"), NIL);
  EXPECT_EQ(ev("(%find-slot-definition 'x (find-class 'cons))"), NIL);  // 4 words only
  EXPECT_EQ(catching("(%find-slot-definition 'x 5)"), E_WRONG_TYPE);
}

TEST_F(Class, MissingAndUnboundSlots) {
  make_point();
  set_g("*P*", ev("(allocate-instance point)"));
  EXPECT_EQ(ev_show("(slot-value *p* 'x)"), "(UNBOUND T X)");
  EXPECT_EQ(ev_show("(slot-value *p* 2)"), "(UNBOUND T 2)");
  EXPECT_EQ(ev_show("(slot-value *p* 'z)"), "(MISSING T Z SLOT-VALUE NIL)");
  // Location 0 is the class, never a slot; past the end is missing too.
  EXPECT_EQ(ev_show("(slot-value *p* 0)"), "(MISSING T 0 SLOT-VALUE NIL)");
  EXPECT_EQ(ev_show("(slot-value *p* 4)"), "(MISSING T 4 SLOT-VALUE NIL)");
  EXPECT_EQ(ev_show("(slot-value *p* -1)"), "(MISSING T -1 SLOT-VALUE NIL)");
  EXPECT_EQ(ev_show("(slot-value 'a 'x)"), "(MISSING T X SLOT-VALUE NIL)");
  // The writer passes SETF and the value, and returns the value.
  EXPECT_EQ(ev_show("(t-mvlist (%set-slot-value *p* 'z 9))"), "(9)");
  defun("(slot-missing (c o n op &rest more) (seen (t-list n op more)))");
  defun("(seen (x) (t-setq *seen* x))");
  defspecial("*SEEN*", NIL);
  ev("(%set-slot-value *p* 'z 9)");
  EXPECT_EQ(show(g("*SEEN*")), "(Z SETF (9))");
  EXPECT_EQ(ev("(t-eq (slot-makunbound *p* 'z) *p*)"), T);
  EXPECT_EQ(show(g("*SEEN*")), "(Z SLOT-MAKUNBOUND NIL)");
  EXPECT_EQ(ev("(slot-boundp *p* 'z)"), T);  // the function's answer, as a boolean
  EXPECT_EQ(show(g("*SEEN*")), "(Z SLOT-BOUNDP NIL)");

  // A slot made when the class had fewer words than the definition says.
  set_g("*SHORT*", ev("(allocate-instance (find-class 'structure-object) 1)"));
  heap_set_word(g("*SHORT*"), 0, g("POINT"));
  ev("(slot-value *short* 'y)");
  EXPECT_EQ(show(g("*SEEN*")), "(Y SLOT-VALUE NIL)");
}

TEST_F(Class, BoundpAndMakunbound) {
  make_point();
  set_g("*P*", ev("(allocate-instance point 1)"));
  EXPECT_EQ(ev("(slot-boundp *p* 'x)"), T);
  EXPECT_EQ(ev("(slot-boundp *p* 'y)"), NIL);
  EXPECT_EQ(ev("(slot-boundp *p* 1)"), T);
  EXPECT_EQ(ev("(t-eq (slot-makunbound *p* 'x) *p*)"), T);
  EXPECT_EQ(ev("(slot-boundp *p* 'x)"), NIL);
  EXPECT_EQ(heap_word(g("*P*"), 1), UNBOUND_SLOT);
  // Any word with 0x0FFF in its upper half is unbound.
  heap_set_word(g("*P*"), 2, 0x0FFF0000);
  EXPECT_EQ(ev("(slot-boundp *p* 'y)"), NIL);
}

TEST_F(Class, ProtocolFunctionsMissing) {
  make_point();
  set_g("*P*", ev("(allocate-instance point)"));
  sym_set_function(FS_SLOT_MISSING, NIL);
  sym_set_function(FS_SLOT_UNBOUND, NIL);
  EXPECT_EQ(catching("(slot-value *p* 'x)"), E_UNDEFINED);
  EXPECT_EQ(show(last_object), "SLOT-UNBOUND");
  EXPECT_EQ(catching("(slot-value *p* 'nope)"), E_UNDEFINED);
  EXPECT_EQ(show(last_object), "SLOT-MISSING");
  EXPECT_EQ(catching("(%set-slot-value 5 1 2)"), E_UNDEFINED);
  EXPECT_EQ(catching("(slot-boundp 5 'x)"), E_UNDEFINED);
}

// ---------------------------------------------------------------------------
// Initialisation arguments

TEST_F(Class, CheckInitargsCutsWhatNoSlotTakes) {
  make_point();
  EXPECT_EQ(ev_show("(%check-initargs point '(:x 1 :why 2 :count 3))"), "(:X 1 :WHY 2 :COUNT 3)");
  EXPECT_EQ(ev_show("(%check-initargs point nil)"), "NIL");
  // Each unknown name is reported (continuable) and its pair dropped.
  EXPECT_EQ(ev_show("(%check-initargs point '(:z 1 :x 2 :w 3 :y 4 :v))"), "(:X 2 :Y 4)");
  EXPECT_EQ(Signals::cerrors, 3);
  EXPECT_EQ(Signals::last, E_BAD_KEYWORD);

  make_class("OPEN", fixed_class(FIXED_CLASS_STANDARD), 1);
  set_class_word("OPEN", CW_PRECEDENCE, NIL);
  EXPECT_EQ(catching("(%check-initargs open nil)"), E_BAD_TYPE_SPEC);
  make_class("S", fixed_class(FIXED_CLASS_STRUCTURE), 1);
  EXPECT_EQ(catching("(%check-initargs s nil)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(catching("(%check-initargs (find-class 'cons) nil)"), E_BAD_TYPE_SPEC);
  EXPECT_EQ(catching("(%check-initargs 5 nil)"), E_WRONG_TYPE);
  EXPECT_EQ(catching("(%check-initargs point 5)"), E_WRONG_TYPE);
}

TEST_F(Class, DefaultInitargsFollowThePrecedenceList) {
  make_class("BASE", fixed_class(FIXED_CLASS_STANDARD), 4);
  make_class("DERIVED", fixed_class(FIXED_CLASS_STANDARD), 4, {"BASE"});
  Value defs = NIL, d = NIL;
  root_push(&defs);
  root_push(&d);
  for (const char* n : {"C", "B", "A"}) {
    std::string init = std::string("(:") + n + ")";
    d = slot_def(n, 1, nullptr, init.c_str());
    defs = cons(d, defs);
  }
  set_class_word("DERIVED", CW_SLOTS, defs);
  root_pop(2);
  defspecial("*N*", make_fixnum(0));
  set_class_word("DERIVED", CW_DEFAULT_INITARGS, form("(:b (t-setq *n* (t+ *n* 1)))"));
  set_class_word("BASE", CW_DEFAULT_INITARGS, form("(:b 'base :c 'base-c)"));

  set_g("*GIVEN*", form("(:a 1)"));
  EXPECT_EQ(ev_show("(%default-initargs derived *given*)"), "(:A 1 :B 1 :C BASE-C)");
  EXPECT_EQ(show(g("*GIVEN*")), "(:A 1)");  // the caller's list is left alone
  // A supplied initarg is not defaulted, and its form is not evaluated.
  EXPECT_EQ(ev_show("(%default-initargs derived '(:b 0))"), "(:B 0 :C BASE-C)");
  EXPECT_EQ(show(g("*N*")), "1");
  EXPECT_EQ(ev_show("(%default-initargs derived nil)"), "(:B 2 :C BASE-C)");
  // Defaults are not checked against the slots.
  EXPECT_EQ(ev_show("(%default-initargs base nil)"), "(:B BASE :C BASE-C)");
  EXPECT_EQ(Signals::cerrors, 0);
}

TEST_F(Class, FillSlotsFromInitargs) {
  make_point();
  set_g("*P*", ev("(allocate-instance point)"));
  // The leftmost initarg a slot accepts wins; initial forms fill the
  // unbound slots named.
  EXPECT_EQ(ev("(t-eq (%fill-slots-from-initargs *p* t :x 1 :why 2 :y 3 :x 4) *p*)"), T);
  EXPECT_EQ(ev_show("(t-list (slot-value *p* 'x) (slot-value *p* 'y))"), "(1 2)");
  set_g("*P*", ev("(allocate-instance point)"));
  ev("(%fill-slots-from-initargs *p* '(x) :x 5)");
  EXPECT_EQ(ev("(slot-boundp *p* 'y)"), NIL);  // not named: no initial form
  ev("(%fill-slots-from-initargs *p* '(y))");
  EXPECT_EQ(ev_show("(slot-value *p* 'y)"), "42");
  ev("(%set-slot-value *p* 'y 7)");
  ev("(%fill-slots-from-initargs *p* t)");
  EXPECT_EQ(ev_show("(slot-value *p* 'y)"), "7");  // bound slots keep their value
  ev("(%fill-slots-from-initargs *p* nil :count 11)");
  EXPECT_EQ(heap_word(g("*COUNT-CELL*"), 0), make_fixnum(11));

  // A value of the wrong type is reported (continuable) and stored.
  EXPECT_EQ(Signals::cerrors, 0);
  ev("(%fill-slots-from-initargs *p* nil :x 'not-an-integer)");
  EXPECT_EQ(Signals::cerrors, 1);
  EXPECT_EQ(Signals::last, E_SLOT_TYPE);
  EXPECT_EQ(ev_show("(slot-value *p* 'x)"), "NOT-AN-INTEGER");

  EXPECT_EQ(catching("(%fill-slots-from-initargs 5 t)"), E_WRONG_TYPE);
  EXPECT_NE(catching("(%fill-slots-from-initargs *p*)"), 0u);
}

// ---------------------------------------------------------------------------
// Printing

TEST_F(Class, PrintingInstances) {
  make_point();
  set_g("*P*", ev("(allocate-instance point)"));
  // Without a print function: the class name and where the object lies
  // (which a collection during the print may change).
  auto printed = [](Value x) {
    Value s = print_to_string(x, PRINT_ESCAPE);
    return std::string(reinterpret_cast<char*>(string_bytes(s)), string_length(s));
  };
  auto fallback = [](const std::string& text, const std::string& name) {
    std::string head = "#<" + name + " ";
    if (text.compare(0, head.size(), head) != 0 || text.size() < head.size() + 2 ||
        text.back() != '>')
      return false;
    for (size_t i = head.size(); i + 1 < text.size(); i++)
      if (!std::isxdigit(static_cast<unsigned char>(text[i])) || std::islower(text[i]))
        return false;
    return true;
  };
  EXPECT_PRED2(fallback, printed(g("*P*")), "POINT");
  EXPECT_EQ(printed(fixed_class(FIXED_CLASS_CONS)), "#<BUILT-IN-CLASS 120>");
  // A class without a name gives nothing to show.
  ev("(%set-class-name point nil)");
  EXPECT_EQ(printed(g("*P*")), "#<Unprintable>");
  ev("(%set-class-name point 'point)");
  // With a print function, it does the printing.
  defun("(%print-instance (o stream) (write-string \"<a point>\" stream))");
  EXPECT_EQ(printed(g("*P*")), "<a point>");
}

// ---------------------------------------------------------------------------
// Collections and images

TEST_F(Class, InstancesSurviveCollections) {
  make_point();
  // A chain of instances, each holding a fresh list and the one before.
  set_g("*CHAIN*", NIL);
  for (int i = 0; i < 200; i++) {
    ev("(t-setq *chain* (allocate-instance point (t-list 1 2 3) *chain*))");
    if (i % 50 == 0) gc_full_collection();
  }
  ev("(%set-find-class 'point point)");
  gc_full_collection();
  int n = 0;
  for (Value x = g("*CHAIN*"); !nil_p(x); x = heap_word(x, 2), n++) {
    ASSERT_EQ(heap_word(x, 0), g("POINT"));
    ASSERT_EQ(show(heap_word(x, 1)), "(1 2 3)");
    ASSERT_EQ(heap_word(x, 3), UNBOUND_SLOT);
  }
  EXPECT_EQ(n, 200);
  EXPECT_EQ(ev("(t-eq (find-class 'point) point)"), T);
  EXPECT_EQ(ev_show("(slot-value (slot-value *chain* 2) 'x)"), "(1 2 3)");
}

TEST_F(Class, ClassesAndInstancesSurviveAnImage) {
  make_point();
  ev("(%set-find-class 'point point)");
  set_g("*P*", ev("(allocate-instance point 5 'six)"));
  // The test built-ins live in spare records no image may name.
  for (const TestBuiltin& b : kTestBuiltins) sym_set_function(idx(b.name), NIL);
  std::string path = testing::TempDir() + "classes_" + std::to_string(getpid()) + ".ROL";
  ASSERT_EQ(img_write_file(path.c_str()), 0);
  mem_free_areas(true, true);
  int loaded = img_load(path.c_str(), 1);
  std::remove(path.c_str());
  ASSERT_EQ(loaded, IMG_OK) << img_error_text();
  Value cls = root_table_get(ROOT_TYPE_TABLE, sym("point"));
  Value p = g("*P*");
  ASSERT_TRUE(is_class(cls));
  EXPECT_EQ(class_of(p), cls);
  EXPECT_EQ(show(heap_word(p, 2)), "SIX");
  Value def = find_slot_definition(cls, sym("x"));
  ASSERT_NE(def, NIL);
  EXPECT_EQ(heap_word(p, uint32_t(fixnum_value(heap_word(def, SD_LOCATION)))), make_fixnum(5));
  EXPECT_EQ(class_of(make_fixnum(1)), fixed_class(FIXED_CLASS_INTEGER));
}
