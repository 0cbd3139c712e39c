// The job pool of a batch: every job handed to a worker once, in input
// order, on up to `threads` threads (the calling one among them), and after
// each, a finishing step under the pool's lock, so finishing steps never
// overlap. One thread (or no lock to be had): all in the calling thread, in
// order.
#pragma once

#include <stddef.h>

typedef void (*BatchStep)(void* context, size_t index);
void RunPool(size_t count, unsigned threads, BatchStep work, BatchStep finish, void* context);
