// Everything a kernel component may use: the object model and the kernel's routines.
#pragma once

#include "All.h"
#include "gc.h"
#include "hash.h"
#include "io.h"
#include "lineprint.h"
#include "main.h"
#include "mdebug.h"
#include "storman.h"
