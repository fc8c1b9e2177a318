// Constants of the room model: identity, dimensions and model-data layout.
#pragma once

#define MODEL_NAME "Vastorel"
#define MODEL_MODULE_FILE "Vastorel.so"
#define MODEL_GUID "{64a66c5a-0fc4-43e3-93ea-8b95be22d5f0}"

// Counts as the size queries report them.
#define MODEL_DIMENSIONS 3, 0, 2, 1, 189, 24, 0, 3, 3, 0, 0, 0, 0
#define MODEL_SIZES 3, 0, 2, 1, 189, 24, 3, 0, 0
#define MODEL_RUNTIME_SIZES 3, 0, 2, 1, 189, 24, 0, 3, 3, 0, 0
#define MODEL_COUNTS 3, 0, 0, 0, 0, 95, 0, 0, 0, 6

#define MODEL_NX 3
#define MODEL_NU 2
#define MODEL_NY 1
#define MODEL_NW 189
#define MODEL_NP 24
#define MODEL_NSTR 0
#define MODEL_NREL 3
#define MODEL_NSAMPLE 0
#define MODEL_NHELD 6
#define MODEL_HEAD_DOUBLES 95
#define MODEL_HEAD_INTS 18
#define MODEL_NSTRING_SLOTS 1
#define MODEL_NEXTRA1 0
#define MODEL_NEXTRA2 0
#define MODEL_NDELAY 1
#define MODEL_HAS_INSTANCE_DATA 1
#define MODEL_PERTURB_BY_STATE 0
