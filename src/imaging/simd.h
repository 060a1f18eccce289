// Which implementation the toolkit's routines run. Each routine keeps its
// plain, literal loops, which define the result; its fast path (vector
// code for the CPU's instruction set, chosen once per process, and threads
// over row ranges) gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// True when the plain paths run: TESSARIN_PLAIN=1 in the environment (read
// once, at the first call), a CPU without any vector instruction set that
// the fast paths are built for, or after SetPlainPaths(true).
bool PlainPaths();
void SetPlainPaths(bool plain);

// The instruction set the fast paths use, by Highway's name ("AVX3" for
// AVX-512, "AVX2", "SSE4", "SSSE3", "SCALAR").
std::string SimdTargetName();
std::string SimdTargetName(std::int64_t target);

// Every instruction set compiled in that this CPU can run, best first
// (SCALAR, one lane at a time, last).
std::vector<std::int64_t> RunnableSimdTargets();

// Makes the fast paths use `target`, one of RunnableSimdTargets(), from
// now on (tests run every one); 0 goes back to the best.
void SetSimdTarget(std::int64_t target);
