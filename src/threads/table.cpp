// The thread table's records and lists.
#include "threads/table.h"

namespace {

ThreadRecord records[THREAD_RECORDS];
// Built statically, so that the collector may walk the table before any
// set-up; the condition of a freed record is made by thread_table_init.
NativeMutex table_lock{PTHREAD_MUTEX_INITIALIZER};
NativeCondition record_freed;
bool condition_made = false;
uint32_t free_head = 0;  // under table_lock
uint32_t next_serial = FIRST_SERIAL + 1;
uint32_t active = 0;

}  // namespace

bool thread_table_init() {
  if (!condition_made) condition_made = native_condition_init(&record_freed);
  if (!condition_made) return false;
  native_mutex_lock(&table_lock);
  for (uint32_t i = 0; i < THREAD_RECORDS; i++) {
    ThreadRecord& r = records[i];
    r.live = false;
    r.serial = 0;
    r.state = nullptr;
    r.start_vector = 0;
    r.next = i + 1 < THREAD_RECORDS ? i + 1 : 0;
  }
  records[0].live = true;
  records[0].serial = FIRST_SERIAL;
  records[0].next = 0;
  records[0].native.id = pthread_self();
  free_head = 1;
  next_serial = FIRST_SERIAL + 1;
  active = 1;
  native_mutex_unlock(&table_lock);
  return true;
}

uint32_t thread_record_take(uint32_t* serial) {
  native_mutex_lock(&table_lock);
  if (active >= THREAD_LIMIT || free_head == 0) {
    native_mutex_unlock(&table_lock);
    return 0;
  }
  uint32_t n = free_head;
  ThreadRecord& r = records[n];
  free_head = r.next;
  // Newest first behind record 0.
  r.next = records[0].next;
  records[0].next = n;
  r.live = true;
  r.serial = next_serial++;
  r.state = nullptr;
  r.start_vector = 0;
  active++;
  *serial = r.serial;
  native_mutex_unlock(&table_lock);
  return n;
}

void thread_record_release(uint32_t number) {
  if (number == 0 || number >= THREAD_RECORDS) return;
  native_mutex_lock(&table_lock);
  ThreadRecord& r = records[number];
  if (r.live) {
    for (uint32_t* p = &records[0].next; *p; p = &records[*p].next)
      if (*p == number) {
        *p = r.next;
        break;
      }
    r.live = false;
    r.state = nullptr;
    r.next = free_head;
    free_head = number;
    active--;
    native_condition_notify_all(&record_freed);
  }
  native_mutex_unlock(&table_lock);
}

ThreadRecord* thread_record(uint32_t number) { return number < THREAD_RECORDS ? &records[number] : nullptr; }

uint32_t thread_active_count() {
  native_mutex_lock(&table_lock);
  uint32_t n = active;
  native_mutex_unlock(&table_lock);
  return n;
}

uint32_t thread_number_of_serial(uint32_t serial) {
  native_mutex_lock(&table_lock);
  uint32_t found = THREAD_RECORDS;
  uint32_t n = 0;
  do {
    if (records[n].serial == serial) {
      found = n;
      break;
    }
    n = records[n].next;
  } while (n);
  native_mutex_unlock(&table_lock);
  return found;
}

void thread_for_each_live(void (*fn)(uint32_t number, void* data), void* data) {
  native_mutex_lock(&table_lock);
  uint32_t n = 0;
  do {
    fn(n, data);
    n = records[n].next;
  } while (n);
  native_mutex_unlock(&table_lock);
}

void thread_table_lock() { native_mutex_lock(&table_lock); }
void thread_table_unlock() { native_mutex_unlock(&table_lock); }

void thread_record_set_state(uint32_t number, void* state) {
  native_mutex_lock(&table_lock);
  if (number < THREAD_RECORDS && records[number].live) records[number].state = state;
  native_mutex_unlock(&table_lock);
}

namespace {

bool serial_live(uint32_t serial) {
  uint32_t n = 0;
  do {
    if (records[n].live && records[n].serial == serial) return true;
    n = records[n].next;
  } while (n);
  return false;
}

// Under table_lock: waits for `done` at most ms milliseconds.
template <typename Done>
bool wait_for(Done done, uint64_t ms) {
  native_mutex_lock(&table_lock);
  bool ok = done();
  if (!ok && condition_made && ms) {
    native_condition_wait_ms(&record_freed, &table_lock, ms);
    ok = done();
  }
  native_mutex_unlock(&table_lock);
  return ok;
}

}  // namespace

bool thread_wait_serial_ended(uint32_t serial, uint64_t ms) {
  return wait_for([serial] { return !serial_live(serial); }, ms);
}

bool thread_wait_active_at_most(uint32_t n, uint64_t ms) {
  return wait_for([n] { return active <= n; }, ms);
}
