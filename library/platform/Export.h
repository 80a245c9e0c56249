#pragma once
// The library is built with hidden visibility; only what carries this mark is
// reachable from the program and the command-line tool.
#define VARKO_EXPORT __attribute__((visibility("default")))
