// The members of the world and the stop request.
//
// Every change of a member's state that matters to a stopper happens under
// `world_mutex`, and the stop request is raised and lowered under it too:
// so a member cannot slip from a region back to running between the
// moment the stopper raised the request and the moment it counted that
// member as stopped.  Members that stop or leave wake the stopper through
// `member_stopped`; the resume wakes everyone through `world_running`.
#include "threads/world.h"

#include "threads/native.h"

std::atomic<int> zv_interrupt_pending{0};
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

// Built before any code runs, so that a collection needs no set-up first;
// the conditions are only waited on without a time limit.
NativeMutex world_mutex{PTHREAD_MUTEX_INITIALIZER};
NativeCondition world_running{PTHREAD_COND_INITIALIZER};   // the stop request was lowered
NativeCondition member_stopped{PTHREAD_COND_INITIALIZER};  // a member parked, entered a region or left
WorldMember* members = nullptr;  // under world_mutex
uint32_t member_count = 0;       // under world_mutex
bool stopping = false;           // under world_mutex: a stopper is at work

// Under world_mutex: wait until no stop is in progress.
void wait_while_stopped() {
  while (stopping) native_condition_wait(&world_running, &world_mutex);
}

bool others_stopped(WorldMember* self) {
  for (WorldMember* m = members; m; m = m->next)
    if (m != self && m->state.load(std::memory_order_acquire) == MEMBER_RUNNING) return false;
  return true;
}

}  // namespace

bool world_members_init() { return true; }

void world_member_join(WorldMember* m, void* owner) {
  m->owner = owner;
  m->region_depth = 0;
  native_mutex_lock(&world_mutex);
  wait_while_stopped();
  m->state.store(MEMBER_RUNNING, std::memory_order_relaxed);
  m->next = members;
  members = m;
  member_count++;
  native_mutex_unlock(&world_mutex);
}

void world_member_leave(WorldMember* m) {
  native_mutex_lock(&world_mutex);
  // A stopper may be walking the list: wait for it to finish, counted as
  // stopped meanwhile (the stopper is waiting for this member too).
  m->state.store(MEMBER_IN_REGION, std::memory_order_release);
  if (stopping) native_condition_notify_all(&member_stopped);
  wait_while_stopped();
  for (WorldMember** p = &members; *p; p = &(*p)->next)
    if (*p == m) {
      *p = m->next;
      member_count--;
      break;
    }
  m->next = nullptr;
  native_condition_notify_all(&member_stopped);
  native_mutex_unlock(&world_mutex);
}

uint32_t world_member_count() {
  native_mutex_lock(&world_mutex);
  uint32_t n = member_count;
  native_mutex_unlock(&world_mutex);
  return n;
}

void world_park(WorldMember* m) {
  if (!world_stop_requested()) return;
  native_mutex_lock(&world_mutex);
  if (stopping) {
    m->state.store(MEMBER_PARKED, std::memory_order_release);
    native_condition_notify_all(&member_stopped);
    wait_while_stopped();
    m->state.store(MEMBER_RUNNING, std::memory_order_relaxed);
  }
  native_mutex_unlock(&world_mutex);
}

void world_region_enter(WorldMember* m) {
  if (m->region_depth++) return;
  native_mutex_lock(&world_mutex);
  m->state.store(MEMBER_IN_REGION, std::memory_order_release);
  if (stopping) native_condition_notify_all(&member_stopped);
  native_mutex_unlock(&world_mutex);
}

void world_region_leave(WorldMember* m) {
  if (--m->region_depth) return;
  native_mutex_lock(&world_mutex);
  wait_while_stopped();
  m->state.store(MEMBER_RUNNING, std::memory_order_relaxed);
  native_mutex_unlock(&world_mutex);
}

void world_stop_others(WorldMember* self) {
  native_mutex_lock(&world_mutex);
  // One stopper at a time; a member waiting here counts as stopped for the
  // one at work.
  if (stopping && self) {
    self->state.store(MEMBER_PARKED, std::memory_order_release);
    native_condition_notify_all(&member_stopped);
  }
  wait_while_stopped();
  if (self) self->state.store(MEMBER_RUNNING, std::memory_order_relaxed);
  stopping = true;
  zv_interrupt_pending.fetch_or(PENDING_SAFEPOINT);
  while (!others_stopped(self)) native_condition_wait(&member_stopped, &world_mutex);
  native_mutex_unlock(&world_mutex);
}

void world_for_each_other(WorldMember* self, void (*fn)(WorldMember*, void*), void* data) {
  // The list cannot change while the world is stopped: joining and leaving
  // wait for the resume.
  for (WorldMember* m = members; m; m = m->next)
    if (m != self) fn(m, data);
}

void world_resume_others() {
  native_mutex_lock(&world_mutex);
  stopping = false;
  zv_interrupt_pending.fetch_and(~PENDING_SAFEPOINT);
  native_condition_notify_all(&world_running);
  native_mutex_unlock(&world_mutex);
}
