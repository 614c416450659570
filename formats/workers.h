// A fixed set of worker threads for the heavy steps of the three programs
// (DST frames, runs of the decimator). The caller owns its jobs, keeps them
// in a ring of its own and takes their results in the order it gave them:
// a job only has to be independent of the jobs running beside it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Threads the option may ask for.
constexpr int32_t WORKERS_MAX_THREADS = 64;

// One piece of work: run(arg), once, on a worker thread. `done` is the
// pool's to set.
struct Job {
    void (*run)(void*) = nullptr;
    void* arg = nullptr;
    bool done = true;
};

struct Workers {
    std::mutex lock;
    std::condition_variable work_ready;  // a job queued, or stopping
    std::condition_variable job_done;
    std::deque<Job*> queue;
    std::vector<std::thread> threads;
    bool stopping = false;
};

// The processors this process may run on, 1 to WORKERS_MAX_THREADS.
int32_t workers_default_count();

// A pool for `threads` threads of work: the caller is one of them, as it
// runs queued jobs while it waits (workers_wait), and threads - 1 workers
// are started, with every signal blocked in them (signals are the main
// thread's to take). Null when threads < 2: the jobs then run at once on
// the caller's thread, which is the single-threaded program. Null too when
// not even one thread could be started.
Workers* workers_new(int32_t threads);

// Waits for the jobs that are running, drops those not started and ends the
// threads; *pool becomes null. Nothing happens for a null pool.
void workers_destroy(Workers** pool);

// Queues the job (or with a null pool runs it now).
void workers_submit(Workers* pool, Job* job);

// Returns once the job has run (or was dropped by workers_destroy); runs
// queued jobs itself meanwhile, so that no core idles while it waits.
void workers_wait(Workers* pool, Job* job);
