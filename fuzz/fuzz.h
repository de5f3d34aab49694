// What the fuzz targets share: clang's reader of the input, and a check that stops the run.
#ifndef ROMGATE_FUZZ_FUZZ_H
#define ROMGATE_FUZZ_FUZZ_H

#include <fuzzer/FuzzedDataProvider.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// A broken invariant is a crash to libFuzzer, which keeps the input that broke it.
#define CHECK(x) ((x) ? (void)0 : (fprintf(stderr, "%s:%d: %s\n", __FILE__, __LINE__, #x), abort()))

#endif  // ROMGATE_FUZZ_FUZZ_H
