#include "workers.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>

#include <system_error>

int32_t workers_default_count() {
    cpu_set_t set;
    CPU_ZERO(&set);
    int32_t n = sched_getaffinity(0, sizeof set, &set) == 0 ? CPU_COUNT(&set) : 0;
    if (n < 1) n = static_cast<int32_t>(std::thread::hardware_concurrency());
    return n < 1 ? 1 : n > WORKERS_MAX_THREADS ? WORKERS_MAX_THREADS : n;
}

namespace {

// Takes the oldest queued job and runs it without the lock.
void run_first(Workers* pool, std::unique_lock<std::mutex>& hold) {
    Job* job = pool->queue.front();
    pool->queue.pop_front();
    hold.unlock();
    job->run(job->arg);
    hold.lock();
    job->done = true;
    pool->job_done.notify_all();
}

void work(Workers* pool) {
    std::unique_lock<std::mutex> hold(pool->lock);
    for (;;) {
        pool->work_ready.wait(hold, [pool] { return pool->stopping || !pool->queue.empty(); });
        if (pool->stopping) return;
        run_first(pool, hold);
    }
}

}  // namespace

Workers* workers_new(int32_t threads) {
    if (threads < 2) return nullptr;
    auto* pool = new Workers;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        for (int32_t i = 1; i < threads; ++i) pool->threads.emplace_back(work, pool);
    } catch (const std::system_error&) {
        // Fewer threads than asked still do the work, only slower.
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (pool->threads.empty()) {
        delete pool;
        return nullptr;
    }
    return pool;
}

void workers_destroy(Workers** pool) {
    Workers* p = *pool;
    if (p == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(p->lock);
        p->stopping = true;
        // A dropped job counts as done, so that no one waits for it.
        for (Job* job : p->queue) job->done = true;
        p->queue.clear();
    }
    p->work_ready.notify_all();
    p->job_done.notify_all();
    for (std::thread& t : p->threads) t.join();
    delete p;
    *pool = nullptr;
}

void workers_submit(Workers* pool, Job* job) {
    if (pool == nullptr) {
        job->run(job->arg);
        job->done = true;
        return;
    }
    {
        std::lock_guard<std::mutex> hold(pool->lock);
        job->done = false;
        pool->queue.push_back(job);
    }
    pool->work_ready.notify_one();
}

void workers_wait(Workers* pool, Job* job) {
    if (pool == nullptr) return;
    std::unique_lock<std::mutex> hold(pool->lock);
    while (!job->done) {
        if (pool->queue.empty()) pool->job_done.wait(hold);
        else run_first(pool, hold);
    }
}
