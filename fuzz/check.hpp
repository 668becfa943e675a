// The fuzzers' invariant check: names the broken invariant before stopping
// the run as a finding.
#pragma once

#include <cstdio>
#include <cstdlib>

#define check(ok) \
    ((ok) ? (void)0 : (std::fprintf(stderr, "invariant failed: %s\n", #ok), std::abort()))
