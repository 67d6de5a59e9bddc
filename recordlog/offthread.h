#pragma once

#include <functional>

namespace qf {

// Runs work on a thread of its own and returns when it is done, rethrowing
// the StationError it raised. Meanwhile the calling thread's event loop goes
// on, so that the window stays painted, but it delivers no user input: a
// click or a key waits until the work is done, as in a modal box. Work must
// not touch objects of the calling thread (a store connection, for one,
// belongs to the thread that opened it).
void runOffThread(const std::function<void()> &work);

} // namespace qf
