// The switch that puts the functions of a kernel file on its instruction sets. g++ takes a target
// pragma; clang ignores that one and takes an attribute pushed onto every function declared until the
// end (lambdas and the shared kernel headers included). Only what lies between the two uses the
// instructions: the rest of the program stays baseline x86-64.
#pragma once

#define ULMORA_PRAGMA(text) _Pragma(#text)
#if defined(__clang__)
#define ULMORA_TARGET_BEGIN(isa) ULMORA_PRAGMA(clang attribute push(__attribute__((target(isa))), apply_to = function))
#define ULMORA_TARGET_END() ULMORA_PRAGMA(clang attribute pop)
#else
#define ULMORA_TARGET_BEGIN(isa) ULMORA_PRAGMA(GCC push_options) ULMORA_PRAGMA(GCC target(isa))
#define ULMORA_TARGET_END() ULMORA_PRAGMA(GCC pop_options)
#endif
