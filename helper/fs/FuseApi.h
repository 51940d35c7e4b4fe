#pragma once

// The libfuse 3 API level this helper is written against (3.12: the loop configuration of 3.12 on).
#define FUSE_USE_VERSION 312
#include <fuse.h>
#include <fuse_lowlevel.h>
