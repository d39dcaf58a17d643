// Two jobs at once: one on the calling thread, one on a second thread,
// joined before the call returns, with an exception from either forwarded
// to the caller. The readers and the CSV output use it to share their work
// between two cores.
#pragma once

#include <exception>
#include <system_error>
#include <thread>
#include <utility>

namespace fd::host {

// What happens when no second thread can be had.
enum class WithoutThread {
    Throw,     // std::system_error, before either job has run
    RunAfter,  // `theirs` runs on the calling thread after `mine`
};

// Runs `theirs` on a second thread and `mine` on this one, then joins.
// When `mine` throws, `stopTheirs` is called before the join, so that
// `theirs` can end early. Rethrows the first exception: `mine`'s, else
// `theirs`'.
template <typename Mine, typename Theirs, typename StopTheirs>
void RunTwoJobs(Mine&& mine, Theirs&& theirs, StopTheirs&& stopTheirs,
                WithoutThread withoutThread = WithoutThread::Throw) {
    std::exception_ptr theirError;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                theirs();
            } catch (...) {
                theirError = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        if (withoutThread == WithoutThread::Throw) throw;
        mine();
        theirs();
        return;
    }
    try {
        mine();
    } catch (...) {
        stopTheirs();
        worker.join();
        throw;
    }
    worker.join();
    if (theirError) std::rethrow_exception(theirError);
}

template <typename Mine, typename Theirs>
void RunTwoJobs(Mine&& mine, Theirs&& theirs) {
    RunTwoJobs(std::forward<Mine>(mine), std::forward<Theirs>(theirs), [] {});
}

}  // namespace fd::host
